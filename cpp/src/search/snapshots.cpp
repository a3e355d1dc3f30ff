#include "search/snapshots.hpp"

#include <algorithm>
#include <cstring>

namespace quarvo {
namespace search_detail {

std::uint64_t extend_print(std::uint64_t h, std::size_t item, long bin, const Pose& p) {
    auto step = [&h](std::uint64_t v) {
        h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
        h *= 0xBF58476D1CE4E5B9ULL;
    };
    step(item);
    step(static_cast<std::uint64_t>(bin));
    for (double d : {p.tx, p.ty, p.rot}) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        step(bits);
    }
    if (p.mirrored) step(1);
    return h;
}

std::vector<std::uint64_t> prefix_prints(const Layout& l) {
    std::vector<std::uint64_t> h(l.order.size() + 1, 0);
    for (std::size_t pos = 0; pos < l.order.size(); ++pos) {
        const std::size_t i = l.order[pos];
        h[pos + 1] = extend_print(h[pos], i, l.bin[i], l.pose[i]);
    }
    return h;
}

static bool same_pose(const Pose& a, const Pose& b) {
    return a.tx == b.tx && a.ty == b.ty && a.rot == b.rot && a.mirrored == b.mirrored;
}

bool Snapshot::matches(const Layout& l, const std::vector<std::uint64_t>& prefix) const {
    if (prefix[pos] != print) return false;
    if (l.kinds.size() < kinds.size() || !std::equal(kinds.begin(), kinds.end(), l.kinds.begin())) return false;
    for (std::size_t q = 0; q < pos; ++q) {
        const std::size_t i = l.order[q];
        if (items[q] != i || bins[q] != l.bin[i] || !same_pose(poses[q], l.pose[i])) return false;
    }
    return true;
}

const Snapshot* Workspace::find(const Layout& cur, const std::vector<std::uint64_t>& prefix, std::size_t k) const {
    const Snapshot* best = nullptr;
    for (const auto& pair : kept)
        for (const Snapshot& s : pair)
            if (!s.placers.empty() && s.pos <= k && (!best || s.pos > best->pos) && s.matches(cur, prefix))
                best = &s;
    return best;
}

void Workspace::keep(const Layout& cand, std::size_t pos, std::uint64_t print, const std::vector<std::unique_ptr<Placer>>& open,
                const Layout& cur, const std::vector<std::uint64_t>& prefix) {
    if (!snapshots || open.empty()) return;
    std::size_t idx = kept.size();
    for (std::size_t j = 0; j < kept.size(); ++j)
        if (kept[j][0].pos == pos || kept[j][1].pos == pos) idx = j;
    if (idx == kept.size()) kept.emplace_back();
    auto& pair = kept[idx];
    // Keep the one that still serves the current layout; replace the other.
    Snapshot& s = (!pair[0].placers.empty() && pair[0].pos == pos && pair[0].matches(cur, prefix)) ? pair[1] : pair[0];
    s.pos = pos;
    s.print = print;
    s.items.assign(cand.order.begin(), cand.order.begin() + static_cast<long>(pos));
    s.bins.resize(pos);
    s.poses.resize(pos);
    for (std::size_t q = 0; q < pos; ++q) {
        s.bins[q] = cand.bin[s.items[q]];
        s.poses[q] = cand.pose[s.items[q]];
    }
    s.kinds.assign(cand.kinds.begin(), cand.kinds.begin() + static_cast<long>(std::min(cand.kinds.size(), open.size())));
    s.placers.clear();
    for (const auto& p : open) s.placers.push_back(p->copy());
}

}  // namespace search_detail
}  // namespace quarvo
