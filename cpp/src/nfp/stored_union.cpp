#include "nfp/stored_union.hpp"

#include <algorithm>

namespace quarvo {

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
