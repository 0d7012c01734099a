#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/unique_fd.hpp"
#include "redact/redactor.hpp"
#include "spawn/deadline.hpp"
#include "spawn/live_output.hpp"
#include "spawn/wake_event.hpp"

namespace quillbox {

// What one of the child's streams has delivered.
struct CaptureState {
    // The first bytes of the stream, never more than its limit, or, where
    // the stream is passed on live, those not yet passed on; how many bytes
    // have come in all; and whether room for the rest has been reserved.
    // Only the reader thread touches them until it has been joined.
    SecretBytes bytes;
    std::uint64_t received = 0;
    bool room_reserved = false;
    // The flags below are written by the reader thread and read by the
    // waiting thread under this mutex.
    std::mutex mutex;
    // The stream delivered more than its limit.
    bool limit_exceeded = false;
    // The reader was told to stop before the stream ended.
    bool stopped = false;
    // The reader has ended and closed its end of the pipe.
    bool finished = false;
};

// Reads one of the child's streams on its own thread, in chunks of up to 65536
// bytes (262144 once a captured stream's first chunk has come) read straight
// into the captured bytes, keeping exactly the first
// `limit` bytes; or, given a live output, passing each chunk on through it as
// it comes. The reader ends at end of file, at a failed read or a refused
// write, at the first byte beyond the limit, or when `stop` is raised; then it
// takes what the pipe holds at that moment, closes its end and raises
// `finished`.
class StreamReader {
public:
    // Starts the reader's thread; a thread the system refuses is an
    // operating-system error.
    static Result<std::unique_ptr<StreamReader>> start(UniqueFd source, std::uint64_t limit,
                                                       const WakeEvent& stop,
                                                       const WakeEvent& finished,
                                                       std::optional<LiveOutput> live);
    // A reader still running is stopped and waited for.
    ~StreamReader();

    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    bool limit_exceeded() const;
    bool finished() const;
    // Whether the captured bytes stop short of the stream's end: at the limit,
    // or because the reader was told to stop.
    bool cut_short() const;

    // Waits for the reader to end, then redacts the captured bytes, which the
    // result takes over; or passes the rest of a live stream on, waiting for
    // its destination until `deadline` at most, and gives an empty text. The
    // redaction gives up, dropping the rest, when `watch` says so.
    RedactedText finish(const Redactor& redactor, TextEnd end, Deadline deadline, Clock& clock,
                        RedactionWatch& watch);

private:
    StreamReader(const WakeEvent& stop, std::optional<LiveOutput> live)
        : stop_(stop), live_(std::move(live)) {}

    mutable CaptureState state_;
    const WakeEvent& stop_;
    std::optional<LiveOutput> live_;
    std::thread thread_;
};

}  // namespace quillbox
