#include "bench/rig/Connections.h"

#include <algorithm>

namespace rig {

void DeviceAccount::Begin(bool afterAbortive) {
    afterAbortive_ = afterAbortive;
    head_.clear();
    checker_.reset();
}

void DeviceAccount::Feed(const std::uint8_t* data, std::size_t count, std::uint64_t sent) {
    if (checker_) {
        checker_->Feed(data, count, sent);
        return;
    }
    head_.insert(head_.end(), data, data + count);
    if (head_.size() >= StreamChecker::kWindow) {
        Locate(sent);
    }
}

void DeviceAccount::End(std::uint64_t sent) {
    if (!checker_ && !head_.empty()) {
        Locate(sent);
    }
    if (checker_) {
        checker_->Finish(sent);
        figures_ = Settled(figures_);
        checker_.reset();
    }
}

void DeviceAccount::Locate(std::uint64_t sent) {
    const std::size_t window = std::min(head_.size(), StreamChecker::kWindow);
    const std::uint64_t from = figures_.frontier > kLookBack ? figures_.frontier - kLookBack : 0;
    start_ = figures_.frontier;
    if (sent > from) {
        std::vector<std::uint8_t> range(sent - from);
        pattern_.Fill(from, range.data(), range.size());
        const auto at = std::search(range.begin(), range.end(), head_.begin(),
                                    head_.begin() + static_cast<std::ptrdiff_t>(window));
        if (at != range.end()) {
            start_ = from + static_cast<std::uint64_t>(at - range.begin());
        }
    }
    checker_.emplace(pattern_, start_);
    checker_->Feed(head_.data(), head_.size(), sent);
    head_.clear();
}

Figures DeviceAccount::Settled(Figures f) const {
    const std::uint64_t end = checker_->Position();
    if (start_ > f.frontier) {
        f.lost += start_ - f.frontier;
    }
    const std::uint64_t repeats = start_ < f.frontier ? std::min(end, f.frontier) - start_ : 0;
    (afterAbortive_ ? f.repeated : f.repeatedGraceful) += repeats;
    f.delivered += checker_->Matched() - std::min(checker_->Matched(), repeats);
    f.lost += checker_->Skipped();
    f.altered += checker_->Altered();
    f.extra += checker_->Extra();
    f.frontier = std::max(f.frontier, end);
    return f;
}

} // namespace rig
