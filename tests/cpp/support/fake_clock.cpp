#include "support/fake_clock.hpp"

#include <algorithm>

namespace quillbox::testing {

void FakeClock::wait_until(MonotonicTime until, std::span<pollfd> watched) {
    while (!steps_.empty() && steps_.front().when <= until) {
        const std::function<void()> step = std::move(steps_.front().run);
        steps_.erase(steps_.begin());
        step();
    }
    if (::poll(watched.data(), watched.size(), 0) > 0 || until <= now_) return;
    if (until == MonotonicTime::max()) {
        ::poll(watched.data(), watched.size(), -1);
        return;
    }
    waits_.push_back(until - now_);
    now_ = until;
}

void FakeClock::before_reaching(MonotonicTime when, std::function<void()> step) {
    const auto later = std::ranges::upper_bound(steps_, when, {}, &Step::when);
    steps_.insert(later, Step{when, std::move(step)});
}

}  // namespace quillbox::testing
