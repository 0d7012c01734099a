#include "spawn/wait_and_capture.hpp"

#include <poll.h>

#include "spawn/child_wait.hpp"
#include "spawn/deadline.hpp"

namespace quillbox {
namespace {

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

Result<OutputReaders> OutputReaders::start(UniqueFd stdout_read, UniqueFd stderr_read,
                                           const RunLimits& limits, const CaptureEvents& events,
                                           const OutputDestinations& destinations,
                                           const Redactor& redactor) {
    const auto live_to = [&](std::optional<int> destination) -> std::optional<LiveOutput> {
        if (!destination) return std::nullopt;
        return LiveOutput(*destination, redactor);
    };
    auto output =
        StreamReader::start(std::move(stdout_read), limits.max_output_bytes, events.stop_readers,
                            events.reader_finished, live_to(destinations.output));
    if (!output) return fail(output.error());
    auto error =
        StreamReader::start(std::move(stderr_read), limits.max_stderr_bytes, events.stop_readers,
                            events.reader_finished, live_to(destinations.error));
    if (!error) return fail(error.error());
    return OutputReaders{std::move(*output), std::move(*error)};
}

RunOutcome wait_and_capture(pid_t child, OutputReaders& readers, const RunLimits& limits,
                            const Redactor& redactor, const CaptureEvents& events,
                            const Cancellation* cancellation, Clock& clock) {
    ChildProcess process(child, ExitWatch::PidfdWhereAvailable, clock);
    StreamReader& output = *readers.output;
    StreamReader& error = *readers.error;
    const Deadline deadline = deadline_after(clock.now(), limits.timeout_secs);

    const RunEnding ending = wait_for_ending(process, output, error, deadline,
                                             events.reader_finished, cancellation, clock);
    let_readers_finish(output, error, deadline, events.reader_finished, clock);
    events.stop_readers.notify();
    // Secrets are matched in the raw bytes and the result decoded afterwards:
    // decoding first would turn the invalid bytes of a secret that is not
    // valid UTF-8 into U+FFFD and leave the rest of it in plain sight. The
    // captured buffers are handed over, so that the result can reuse them. A
    // stream we cut may end in the first bytes of a secret. A live stream's
    // destination may take its rest until the deadline. The redaction of both
    // counts against the run's time: what is not redacted by the redaction
    // deadline is dropped, and the run has timed out.
    RedactionWatch watch(clock, redaction_deadline(deadline, clock.now()));
    const auto finish = [&](StreamReader& stream) {
        const TextEnd end =
            ending.stopped_by_us || stream.cut_short() ? TextEnd::Cut : TextEnd::Whole;
        return stream.finish(redactor, end, deadline, clock, watch);
    };
    RedactedText output_text = finish(output);
    RedactedText error_text = finish(error);
    if (watch.gave_up()) {
        return RunOutcome{std::move(output_text), std::move(error_text), kStoppedExitCode,
                          StopCause::Timeout};
    }
    return RunOutcome{std::move(output_text), std::move(error_text), ending.exit_code,
                      ending.cause};
}

}  // namespace quillbox
