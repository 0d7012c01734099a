#include "spawn/wait_and_capture.hpp"

#include <poll.h>

#include "spawn/child_wait.hpp"
#include "spawn/deadline.hpp"
#include "spawn/output_capture.hpp"

namespace quillbox {
namespace {

constexpr std::int32_t kStoppedExitCode = 124;
constexpr std::int32_t kStatusUnknownExitCode = 1;

struct Ending {
    std::int32_t exit_code;
    bool timed_out;
    // We ended the child, perhaps in the middle of what it was writing.
    bool stopped_by_us;
};

bool any_overrun(const StreamReader& output, const StreamReader& error) {
    return output.limit_exceeded() || error.limit_exceeded();
}

// Sleeps until something may have changed: the child ended, a reader ended or
// the deadline came. Every wake-up checks, in this order, the limit flags, the
// child's status and the deadline.
Ending wait_for_ending(ChildProcess& child, const StreamReader& output, const StreamReader& error,
                       Deadline deadline, const WakeEvent& reader_finished, const Clock& clock) {
    for (;;) {
        if (any_overrun(output, error)) {
            child.kill_and_reap();
            return {kStoppedExitCode, false, true};
        }
        const ChildStatus status = child.try_reap();
        if (status.state == ChildState::Ended) {
            // Bytes beyond a limit may have come in with the child's end.
            return {any_overrun(output, error) ? kStoppedExitCode : status.exit_code, false, false};
        }
        if (status.state == ChildState::StatusFailed) {
            return {kStatusUnknownExitCode, false, false};
        }
        if (has_passed(deadline, clock)) {
            child.kill_and_reap();
            return {kStoppedExitCode, true, true};
        }
        child.wait_for_change(reader_finished.fd(), deadline);
        reader_finished.clear();
    }
}

// The child is gone, but a descendant may have inherited its pipes. The
// readers go on to end of file or to the deadline, whichever comes first; a
// descendant cannot hold the run past its deadline.
void let_readers_finish(const StreamReader& output, const StreamReader& error, Deadline deadline,
                        const WakeEvent& reader_finished, Clock& clock) {
    while (!(output.finished() && error.finished()) && !has_passed(deadline, clock)) {
        pollfd watched{reader_finished.fd(), POLLIN, 0};
        clock.wait_until(deadline, {&watched, 1});
        reader_finished.clear();
    }
}

}  // namespace

Result<CaptureEvents> CaptureEvents::create() {
    auto reader_finished = WakeEvent::create();
    if (!reader_finished) return fail(reader_finished.error());
    auto stop_readers = WakeEvent::create();
    if (!stop_readers) return fail(stop_readers.error());
    return CaptureEvents{std::move(*reader_finished), std::move(*stop_readers)};
}

RunOutcome wait_and_capture(SpawnedChild child, const RunLimits& limits, const Redactor& redactor,
                            const CaptureEvents& events, Clock& clock) {
    ChildProcess process(child.pid, ExitWatch::PidfdWhereAvailable, clock);
    StreamReader output(std::move(child.stdout_read), limits.max_output_bytes, events.stop_readers,
                        events.reader_finished);
    StreamReader error(std::move(child.stderr_read), limits.max_stderr_bytes, events.stop_readers,
                       events.reader_finished);
    const Deadline deadline = deadline_after(clock.now(), limits.timeout_secs);

    const Ending ending =
        wait_for_ending(process, output, error, deadline, events.reader_finished, clock);
    let_readers_finish(output, error, deadline, events.reader_finished, clock);
    events.stop_readers.notify();
    // Secrets are matched in the raw bytes and the result decoded afterwards:
    // decoding first would turn the invalid bytes of a secret that is not
    // valid UTF-8 into U+FFFD and leave the rest of it in plain sight. The
    // captured buffers are handed over, so that the result can reuse them. A
    // stream we cut may end in the first bytes of a secret.
    const auto end_of = [&](const StreamReader& stream) {
        return ending.stopped_by_us || stream.cut_short() ? TextEnd::Cut : TextEnd::Whole;
    };
    std::string output_bytes = output.take_bytes();
    std::string error_bytes = error.take_bytes();
    return RunOutcome{redactor.redact(std::move(output_bytes), end_of(output)),
                      redactor.redact(std::move(error_bytes), end_of(error)), ending.exit_code,
                      ending.timed_out};
}

}  // namespace quillbox
