#include "search/repack.hpp"

#include <algorithm>
#include <unordered_map>

#include "quarvo/constants.hpp"

namespace quarvo {
namespace search_detail {

ItemTops::ItemTops(const std::vector<Shape*>& items, const std::vector<double>& angles, bool mirror)
    : by_item_(items.size()) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::unique_ptr<Shape> probe = items[i]->clone_geometry();
        probe->set_infl(0.0);
        probe->set_position(0.0, 0.0);
        std::vector<double> rots = angles;
        rots.push_back(items[i]->rotation());
        rots.push_back(0.0);  // a circle's angle
        std::vector<bool> sides{items[i]->mirrored()};
        if (mirror && items[i]->is_polygon()) sides.push_back(!items[i]->mirrored());
        for (bool side : sides) {
            probe->set_mirrored(side);
            for (double r : rots) {
                probe->set_rotation(r);
                double top = -kInf;
                for (const Pt& p : probe->world_contour()) top = std::max(top, p.y);
                by_item_[i].push_back({r, side, top});
            }
        }
    }
}

double ItemTops::top(std::size_t i, const Shape& s) const {
    for (const Entry& e : by_item_[i])
        if (e.angle == s.rotation() && e.mirrored == s.mirrored()) return s.ty() + e.top;
    return s.bounding_box().maxy;  // an angle no placer gives; not reached
}

void RunningCost::add(long bin, double top, double price, double overflow) {
    if (bin < 0) {
        ++unplaced_;
        overflow_ += overflow;
        return;
    }
    if (static_cast<std::size_t>(bin) >= tops_.size()) {
        tops_.resize(bin + 1, 0.0);
        price_ += price;
    }
    tops_[bin] = std::max(tops_[bin], top);
}

Repacker::Repacker(const FirstFit& ff, const std::vector<Shape*>& items)
    : ff_(ff), items_(items), tops_(items, ff.nfp.rotations, ff.nfp.mirror) {
    ff_.nfp.threads = 1;
    ff_.progress = nullptr;
    for (int side : ff.nfp.mirror ? std::vector<int>{0, 1} : std::vector<int>{-1})
        for (double r : ff.nfp.rotations) {
            single_.push_back({r});
            single_side_.push_back(side);
        }
    stride_ = std::max<std::size_t>(1, items_.size() / kSnapshots);
    if (ff.several_kinds())
        for (std::size_t k = 0; k < ff.kind_count(); ++k) prices_.push_back(bin_cost(ff.kind(static_cast<int>(k))));
    for (const Shape* s : items_) areas_.push_back(material_area(*s));
}

Layout Repacker::initial(const PackResult& greedy) {
    Layout l;
    const std::size_t n = items_.size();
    l.order.resize(n);
    for (std::size_t i = 0; i < n; ++i) l.order[i] = i;
    l.angle.assign(n, -1);
    l.site.assign(n, 0);
    l.bin.assign(n, -1);
    l.pose.resize(n);
    if (ff_.several_kinds()) l.kinds = greedy.bin_kinds;
    std::unordered_map<const Shape*, long> where;
    for (std::size_t b = 0; b < greedy.bins.size(); ++b)
        for (const Shape* s : greedy.bins[b]) where[s] = static_cast<long>(b);
    RunningCost t;
    for (std::size_t i = 0; i < n; ++i) {
        const Shape& s = *items_[i];
        auto it = where.find(&s);
        l.bin[i] = it == where.end() ? -1 : it->second;
        if (l.bin[i] < 0) areas_[i] = 0.0;
        l.pose[i] = {s.tx(), s.ty(), s.rotation(), s.mirrored()};
        t.add(l.bin[i], tops_.top(i, s), l.bin[i] < 0 ? 0.0 : price_of(l, l.bin[i]));
    }
    l.cost = t.cost();
    return l;
}

bool Repacker::evaluate(const Layout& cur, const std::vector<std::uint64_t>& prefix, Layout& cand, std::size_t k,
                        const Cost& limit, Workspace& ws) const {
    const std::size_t n = items_.size();
    cand.bin.assign(n, -1);
    cand.pose.resize(n);
    std::vector<std::unique_ptr<Placer>> open;
    const Snapshot* snap = ws.find(cur, prefix, k);
    std::size_t start = 0;
    if (snap) {
        for (const auto& p : snap->placers) open.push_back(p->copy());
        start = snap->pos;
    } else if (ff_.strip()) {
        open.push_back(ff_.make_bin());
    }
    RunningCost t;
    for (std::size_t pos = 0; pos < k; ++pos) {
        const std::size_t i = cand.order[pos];
        Shape& s = *ws.clones[i];
        const Pose& p = cur.pose[i];
        s.set_rotation(p.rot);
        s.set_mirrored(p.mirrored);
        s.set_position(p.tx, p.ty);
        cand.bin[i] = cur.bin[i];
        cand.pose[i] = p;
        if (cur.bin[i] >= 0 && pos >= start) {
            while (open.size() <= static_cast<std::size_t>(cur.bin[i]))
                open.push_back(ff_.make_bin(kind_of(cand, static_cast<long>(open.size()))));
            open[cur.bin[i]]->packed.push_back(&s);
        }
        t.add(cur.bin[i], tops_.top(i, s), cur.bin[i] < 0 ? 0.0 : price_of(cand, cur.bin[i]), overflow_of(cand, i));
    }
    // From position `tail` on, cand offers the same items with the same
    // choices as cur: once the items placed so far are cur's own at cur's
    // poses, the rest falls as in cur, so cur's poses are taken for it.
    std::size_t tail = n;
    // (bins of other kinds take what follows otherwise)
    for (std::size_t i; cand.kinds == cur.kinds && cand.cap == cur.cap && tail > k &&
                        (i = cand.order[tail - 1]) == cur.order[tail - 1] &&
                        cand.angle[i] == cur.angle[i] && cand.site[i] == cur.site[i];)
        --tail;
    std::vector<std::uint64_t> cur_set(n + 1, 0);  // order-free sums over cur's prefixes
    for (std::size_t pos = 0; pos < n; ++pos) {
        const std::size_t i = cur.order[pos];
        cur_set[pos + 1] = cur_set[pos] + extend_print(0, i, cur.bin[i], cur.pose[i]);
    }
    std::uint64_t set = cur_set[k];
    std::uint64_t h = prefix[k];
    for (std::size_t pos = k; pos < n; ++pos) {
        if (pos % stride_ == 0 && pos > start) ws.keep(cand, pos, h, open, cur, prefix);
        const std::size_t i = cand.order[pos];
        Shape& s = *ws.clones[i];
        const int a = cand.angle[i];
        const PlaceRequest request{a < 0 ? nullptr : &single_[a], cand.site[i], a < 0 ? -1 : single_side_[a]};
        const long b = ff_.offer(open, s, request, cand.kinds.empty() ? nullptr : &cand.kinds,
                                 cand.cap ? cand.cap : static_cast<std::size_t>(-1));
        cand.bin[i] = b;
        cand.pose[i] = {s.tx(), s.ty(), s.rotation(), s.mirrored()};
        h = extend_print(h, i, b, cand.pose[i]);
        t.add(b, tops_.top(i, s), b < 0 ? 0.0 : price_of(cand, b), overflow_of(cand, i));
        if (limit < t.cost()) return false;
        set += extend_print(0, i, b, cand.pose[i]);
        if (pos + 1 >= tail && set == cur_set[pos + 1] && same_poses(cur, cand, k, pos + 1)) {
            for (std::size_t q = pos + 1; q < n; ++q) {
                const std::size_t j = cand.order[q];
                Shape& c = *ws.clones[j];
                c.set_rotation(cur.pose[j].rot);
                c.set_mirrored(cur.pose[j].mirrored);
                c.set_position(cur.pose[j].tx, cur.pose[j].ty);
                cand.bin[j] = cur.bin[j];
                cand.pose[j] = cur.pose[j];
                t.add(cur.bin[j], tops_.top(j, c), cur.bin[j] < 0 ? 0.0 : price_of(cand, cur.bin[j]),
                      overflow_of(cand, j));
            }
            if (limit < t.cost()) return false;
            break;
        }
    }
    cand.cost = t.cost();
    // the plan beyond the bins used is no part of the layout
    if (cand.kinds.size() > t.bins()) cand.kinds.resize(t.bins());
    return true;
}

std::unique_ptr<Workspace> Repacker::workspace() const {
    auto ws = std::make_unique<Workspace>();
    for (Shape* s : items_) ws->clones.push_back(s->clone_geometry());
    ws->snapshots = ff_.strategy == Strategy::Nfp;
    return ws;
}

bool Repacker::same_poses(const Layout& cur, const Layout& cand, std::size_t k, std::size_t end) {
    for (std::size_t pos = k; pos < end; ++pos) {
        const std::size_t i = cand.order[pos];
        const Pose &a = cand.pose[i], &b = cur.pose[i];
        if (cand.bin[i] != cur.bin[i] || a.tx != b.tx || a.ty != b.ty || a.rot != b.rot || a.mirrored != b.mirrored)
            return false;
    }
    return true;
}

}  // namespace search_detail
}  // namespace quarvo
