#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "core/clock.hpp"
#include "core/result.hpp"
#include "redact/redactor.hpp"
#include "spawn/cancellation.hpp"
#include "spawn/output_capture.hpp"
#include "spawn/run_ending.hpp"
#include "spawn/wake_event.hpp"

namespace quillbox {

// How a run ended, with both outputs decoded and redacted; an output passed
// on live is empty here.
struct RunOutcome {
    RedactedText stdout_text;
    RedactedText stderr_text;
    // The child's exit status, 128 + N for signal N, 124 for an output overrun,
    // a cancellation or the deadline (the redaction's included), 1 when the
    // child's status could not be learnt.
    std::int32_t exit_code = 0;
    // What quillbox stopped the run for, or cut its output at; the deadline
    // includes the redaction's.
    StopCause stopped_by = StopCause::None;

    bool timed_out() const { return stopped_by == StopCause::Timeout; }
};

struct RunLimits {
    std::uint64_t timeout_secs;
    std::uint64_t max_output_bytes;
    std::uint64_t max_stderr_bytes;
};

// Where each stream's redacted bytes go as they arrive; a stream without a
// destination is captured into the run's outcome.
struct OutputDestinations {
    std::optional<int> output;
    std::optional<int> error;
};

// The wake-ups between the waiting thread and the two readers. They are made
// before the child starts, so that nothing can fail once it runs.
struct CaptureEvents {
    // Raised by a reader when it ends (at end of file, a failed read, or an
    // overrun, whose flag it sets first).
    WakeEvent reader_finished;
    // Raised by the waiting thread to end the readers.
    WakeEvent stop_readers;

    static Result<CaptureEvents> create();
};

// The readers of a child's two streams. They start before the child, so that
// nothing can fail once it runs.
struct OutputReaders {
    std::unique_ptr<StreamReader> output;
    std::unique_ptr<StreamReader> error;

    static Result<OutputReaders> start(UniqueFd stdout_read, UniqueFd stderr_read,
                                       const RunLimits& limits, const CaptureEvents& events,
                                       const OutputDestinations& destinations,
                                       const Redactor& redactor);
};

// Runs a started child to its end: captures both streams under their limits,
// waits for the child's end, an overrun, the deadline or a cancellation (none
// when null), whichever is first,
// kills the child when it must, and redacts both outputs, or passes the rest
// of a live one on. A timeout or an overrun is a result, not an error. The
// deadline and every wait run on `clock`.
RunOutcome wait_and_capture(pid_t child, OutputReaders& readers, const RunLimits& limits,
                            const Redactor& redactor, const CaptureEvents& events,
                            const Cancellation* cancellation, Clock& clock);

}  // namespace quillbox
