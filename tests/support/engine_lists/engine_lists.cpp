#include "engine_lists/engine_lists.h"

namespace enginelists {

Lists ToLists(const std::vector<std::vector<cv::Point2d>>& in) {
    Lists out;
    for (const auto& list : in) {
        out.emplace_back();
        for (const cv::Point2d& p : list) out.back().push_back({p.x, p.y});
    }
    return out;
}

}  // namespace enginelists
