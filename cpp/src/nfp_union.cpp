#include "quarvo/nfp_union.hpp"

#include <algorithm>
#include <atomic>
#include <string>

#include "quarvo/errors.hpp"
#include "thread_clock.hpp"

namespace quarvo {

namespace {

void collect(const ClipperLib::PolyNode& node, std::vector<Contour>& out) {
    if (!node.Contour.empty()) {
        Contour c;
        c.reserve(node.Contour.size() + 1);
        for (const ClipperLib::IntPoint& p : node.Contour) c.push_back({from_grid(p.X), from_grid(p.Y)});
        if (c.front() != c.back()) c.push_back(c.front());
        if (c.size() >= 4) out.push_back(std::move(c));
    }
    for (const ClipperLib::PolyNode* child : node.Childs) collect(*child, out);
}

// Every contour of the tree, reversed, so that the negative fill rule keeps the
// region filled when these paths are united again.
void reversed_paths(const ClipperLib::PolyNode& node, ClipperLib::Paths& out) {
    if (!node.Contour.empty()) out.emplace_back(node.Contour.rbegin(), node.Contour.rend());
    for (const ClipperLib::PolyNode* child : node.Childs) reversed_paths(*child, out);
}

std::atomic<long long> g_union_ns{0};

// Refuses paths whose edges cross each other so often that the union would
// run for minutes (a random 10,000-point contour crosses itself about 10^7 times).
void require_tame(const ClipperLib::Paths& paths) {
    constexpr std::size_t kMaxCrossings = 2000000;
    std::vector<Contour> contours;
    contours.reserve(paths.size());
    for (const ClipperLib::Path& p : paths) {
        Contour c;
        c.reserve(p.size());
        for (const ClipperLib::IntPoint& q : p) c.push_back({static_cast<double>(q.X), static_cast<double>(q.Y)});
        contours.push_back(std::move(c));
    }
    std::vector<const Contour*> all;
    all.reserve(contours.size());
    for (const Contour& c : contours) all.push_back(&c);
    if (crosses_more_than(all, kMaxCrossings))
        throw ValueError("the contours cross each other more than " + std::to_string(kMaxCrossings) +
                         " times; their union is refused");
}

}  // namespace

double union_seconds() { return static_cast<double>(g_union_ns.load()) / 1e9; }

std::vector<Contour> unite_paths(const ClipperLib::Paths& paths, UnionInput input, ClipperLib::PolyTree* tree_out) {
    if (input == UnionInput::Checked) require_tame(paths);
    ClipperLib::PolyTree local;
    ClipperLib::PolyTree& tree = tree_out ? *tree_out : local;
    long long t0 = thread_cpu_ns();
    ClipperLib::Clipper clipper;
    clipper.AddPaths(paths, ClipperLib::ptSubject, true);
    clipper.Execute(ClipperLib::ctUnion, tree, ClipperLib::pftNegative, ClipperLib::pftNegative);
    g_union_ns.fetch_add(thread_cpu_ns() - t0, std::memory_order_relaxed);
    std::vector<Contour> out;
    collect(tree, out);
    return out;
}

std::vector<Contour> merge_nfps(const std::vector<Contour>& nfps) {
    ClipperLib::Paths paths;
    paths.reserve(nfps.size());
    for (const Contour& c : nfps) paths.push_back(to_path(c));
    return unite_paths(paths, UnionInput::Checked);
}

std::vector<Contour> free_part(const std::vector<Contour>& region, const ClipperLib::Paths& obstacles, double shrink) {
    ClipperLib::Clipper clipper;
    for (const Contour& c : region) clipper.AddPath(to_path(c), ClipperLib::ptSubject, true);
    if (!obstacles.empty()) clipper.AddPaths(obstacles, ClipperLib::ptClip, true);
    ClipperLib::Paths free;
    clipper.Execute(ClipperLib::ctDifference, free, ClipperLib::pftNonZero, ClipperLib::pftNegative);
    ClipperLib::ClipperOffset offset;
    offset.AddPaths(free, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    ClipperLib::PolyTree tree;
    offset.Execute(tree, -shrink);
    std::vector<Contour> out;
    collect(tree, out);
    return out;
}

ClipperLib::Path world_path(const Contour& local, double ax, double ay) {
    ClipperLib::Path path;
    path.reserve(local.size());
    for (const Pt& p : local) path.push_back(ClipperLib::IntPoint(to_grid(p.x + ax), to_grid(p.y + ay)));
    return path;
}

void add_world_paths(const std::vector<Contour>& local, double ax, double ay, ClipperLib::Paths& out) {
    for (const Contour& c : local) out.push_back(world_path(c, ax, ay));
}

const std::vector<Contour>& StoredUnion::update(const std::vector<Shape*>& packed, const PathOf& path_of,
                                                const std::function<void()>& stop) {
    const bool prefix =
        basis_.size() <= packed.size() && std::equal(basis_.begin(), basis_.end(), packed.begin());
    // Nothing placed since the stored union: sample it as it is.
    if (prefix && has_merged_ && basis_.size() == packed.size()) return merged_;
    const std::size_t first_new = prefix ? basis_.size() : 0;
    // Taken out until the new union is stored; a failure meanwhile starts it afresh.
    ClipperLib::Paths paths;
    if (prefix) paths = std::move(paths_);
    paths_.clear();
    basis_.clear();
    merged_.clear();
    has_merged_ = false;
    paths.reserve(paths.size() + packed.size() - first_new);
    for (std::size_t j = first_new; j < packed.size(); ++j) {
        if (j % 256 == 255) stop();
        path_of(j, paths);
    }
    stop();
    ClipperLib::PolyTree tree;
    std::vector<Contour> merged = unite_paths(paths, UnionInput::Trusted, &tree);
    stop();
    reversed_paths(tree, paths_);
    basis_ = packed;
    merged_ = std::move(merged);
    has_merged_ = true;
    return merged_;
}

}  // namespace quarvo
