#pragma once

#include <cstddef>
#include <cstdint>

namespace quillbox {

// How refused memory locks are told: each as a warning line of its own (the
// default), or tallied for one line that the caller writes. Under a low
// locked-memory limit every secret buffer is refused, and a command that
// opens a vault would print a line for each.
enum class LockRefusalReports { EachAsWarning, Tallied };

// Refusals tallied since the tally was last taken.
struct LockRefusalTally {
    std::uint64_t count = 0;
    std::uint64_t bytes = 0;
    // The errno of the last refusal.
    int last_error = 0;
};

// Chooses how refusals are told from now on, for the whole process.
void set_lock_refusal_reports(LockRefusalReports reports);

// Tells of an mlock of `length` bytes that the system refused with `error`:
// "mlock(N bytes) failed: …" as a warning, or one more in the tally.
void report_lock_refusal(std::size_t length, int error);

// The tally so far; a new one starts.
LockRefusalTally take_lock_refusals();

}  // namespace quillbox
