#include "core/lock_refusals.hpp"

#include <mutex>
#include <string>
#include <utility>

#include "core/message_format.hpp"
#include "core/warnings.hpp"

namespace quillbox {
namespace {

// Never destroyed, so that a buffer released during the process's exit still
// finds it.
struct RefusalState {
    std::mutex mutex;
    LockRefusalReports reports = LockRefusalReports::EachAsWarning;
    LockRefusalTally tally;
};

RefusalState& refusal_state() {
    static auto* state = new RefusalState;
    return *state;
}

}  // namespace

void set_lock_refusal_reports(LockRefusalReports reports) {
    RefusalState& state = refusal_state();
    const std::lock_guard guard(state.mutex);
    state.reports = reports;
}

void report_lock_refusal(std::size_t length, int error) {
    RefusalState& state = refusal_state();
    {
        const std::lock_guard guard(state.mutex);
        if (state.reports == LockRefusalReports::Tallied) {
            state.tally.count += 1;
            state.tally.bytes += length;
            state.tally.last_error = error;
            return;
        }
    }
    write_warning("mlock(" + std::to_string(length) + " bytes) failed: " + os_error_text(error) +
                  " — secrets may be swapped to disk");
}

LockRefusalTally take_lock_refusals() {
    RefusalState& state = refusal_state();
    const std::lock_guard guard(state.mutex);
    return std::exchange(state.tally, LockRefusalTally{});
}

}  // namespace quillbox
