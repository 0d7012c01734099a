#include "vault/wall_time.hpp"

namespace quillbox {

using namespace std::chrono;

SplitWallTime split_wall_time(WallTime time) {
    // Both steps round toward zero and stay inside the range; a time before
    // the epoch is then moved down to the second below it.
    const nanoseconds since_epoch = time.time_since_epoch();
    const sys_seconds whole(duration_cast<seconds>(since_epoch));
    const nanoseconds past = since_epoch % seconds(1);
    if (past < nanoseconds::zero()) return {whole - seconds(1), past + seconds(1)};
    return {whole, past};
}

std::optional<WallTime> join_wall_time(const SplitWallTime& time) {
    if (time < split_wall_time(WallTime::min()) || time > split_wall_time(WallTime::max())) {
        return std::nullopt;
    }
    // Before the epoch the whole seconds alone may lie below the range's
    // start, so the sum is built from the second above them.
    if (time.whole.time_since_epoch() < seconds::zero()) {
        return WallTime(time.whole + seconds(1)) + (time.past - seconds(1));
    }
    return WallTime(time.whole) + time.past;
}

}  // namespace quillbox
