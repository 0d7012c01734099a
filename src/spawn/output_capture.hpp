#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/unique_fd.hpp"
#include "spawn/wake_event.hpp"

namespace quillbox {

// What one of the child's streams has delivered. Written by the stream's
// reader thread, read by the waiting thread; the mutex guards every field.
struct CaptureState {
    std::mutex mutex;
    // The first bytes of the stream, never more than its limit.
    std::string bytes;
    // The stream delivered more than its limit.
    bool limit_exceeded = false;
    // The reader was told to stop before the stream ended.
    bool stopped = false;
    // The reader has ended and closed its end of the pipe.
    bool finished = false;
};

// Reads one of the child's streams on its own thread, in 65536-byte chunks,
// keeping exactly the first `limit` bytes. The reader ends at end of file, at a
// failed read, at the first byte beyond the limit, or when `stop` is raised;
// then it takes what the pipe holds at that moment, closes its end and
// raises `finished`.
class StreamReader {
public:
    StreamReader(UniqueFd source, std::uint64_t limit, const WakeEvent& stop,
                 const WakeEvent& finished);
    // A reader still running is stopped and waited for.
    ~StreamReader();

    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    bool limit_exceeded() const;
    bool finished() const;
    // Whether the captured bytes stop short of the stream's end: at the limit,
    // or because the reader was told to stop.
    bool cut_short() const;

    // Waits for the reader to end and hands over the captured bytes.
    std::string take_bytes();

private:
    mutable CaptureState state_;
    const WakeEvent& stop_;
    std::thread thread_;
};

}  // namespace quillbox
