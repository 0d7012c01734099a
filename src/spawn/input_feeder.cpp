#include "spawn/input_feeder.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "spawn/broken_pipe_signal.hpp"

namespace quillbox {
namespace {

constexpr std::size_t kChunkSize = 65536;

void feed(int sink, const SecretBytes& input, const WakeEvent& stop) {
    const int flags = ::fcntl(sink, F_GETFL);
    if (flags < 0 || ::fcntl(sink, F_SETFL, flags | O_NONBLOCK) != 0) return;
    std::size_t written = 0;
    while (written < input.size()) {
        const std::size_t wanted = std::min(input.size() - written, kChunkSize);
        const ssize_t count = ::write(sink, input.data() + written, wanted);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && errno == EAGAIN) {
            if (await_descriptor(sink, POLLOUT, stop, WhenBoth::Stop) != Awaited::Ready) return;
        } else {
            return;  // EPIPE: the child has closed its end
        }
    }
}

}  // namespace

Result<std::unique_ptr<InputFeeder>> InputFeeder::start(UniqueFd sink, SecretBytes input) {
    Result<WakeEvent> stop = WakeEvent::create();
    if (!stop) return fail(stop.error());
    std::unique_ptr<InputFeeder> feeder(new InputFeeder(std::move(*stop)));
    const WakeEvent& stop_event = feeder->stop_;
    auto body = [sink = std::move(sink), input = std::move(input), &stop_event]() mutable {
        const BrokenPipeSignalHeld broken_pipe_fails_the_write;
        feed(sink.get(), input, stop_event);
        input.wipe();
        sink.reset();
    };
    try {
        feeder->thread_ = std::thread(std::move(body));
    } catch (const std::system_error& refused) {
        return fail(errors::OsError{refused.code().value()});
    }
    return feeder;
}

InputFeeder::~InputFeeder() {
    if (!thread_.joinable()) return;
    stop_.notify();
    thread_.join();
}

}  // namespace quillbox
