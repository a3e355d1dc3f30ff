#include "nfp/union_paths.hpp"

#include <algorithm>
#include <atomic>
#include <string>

#include "core/thread_clock.hpp"
#include "geometry/clipper_bridge.hpp"
#include "quarvo/errors.hpp"

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

std::atomic<long long> g_union_ns{0};

// Refuses paths whose edges cross each other so often that the union would
// run for minutes (a random 10,000-point contour crosses itself about 10^7 times).
void require_untangled(const ClipperLib::Paths& paths) {
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

void reversed_paths(const ClipperLib::PolyNode& node, ClipperLib::Paths& out) {
    if (!node.Contour.empty()) out.emplace_back(node.Contour.rbegin(), node.Contour.rend());
    for (const ClipperLib::PolyNode* child : node.Childs) reversed_paths(*child, out);
}

double union_seconds() { return static_cast<double>(g_union_ns.load()) / 1e9; }

std::vector<Contour> unite_paths(const ClipperLib::Paths& paths, UnionInput input, ClipperLib::PolyTree* tree_out) {
    if (input == UnionInput::Checked) require_untangled(paths);
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

}  // namespace quarvo
