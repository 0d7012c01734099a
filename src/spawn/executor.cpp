#include "spawn/executor.hpp"

#include "redact/redactor.hpp"
#include "spawn/input_feeder.hpp"
#include "spawn/pipe.hpp"
#include "spawn/spawn_child.hpp"

namespace quillbox {

Result<RunOutcome> execute(ExecutorRequest request, Clock& clock) {
    const auto events = CaptureEvents::create();
    if (!events) return fail(events.error());
    auto output = make_pipe();
    if (!output) return fail(output.error());
    auto error = make_pipe();
    if (!error) return fail(error.error());
    auto readers =
        OutputReaders::start(std::move(output->read_end), std::move(error->read_end),
                             request.limits, *events, request.destinations, request.redactor);
    if (!readers) return fail(readers.error());
    // The input's pipe and its feeder, like the readers, exist before the
    // child; the run never waits for the feeder, and ends it when it is over.
    std::optional<Pipe> input;
    std::unique_ptr<InputFeeder> feeder;
    if (request.input) {
        auto pipe = make_pipe();
        if (!pipe) return fail(pipe.error());
        input = std::move(*pipe);
        auto started = InputFeeder::start(std::move(input->write_end), std::move(*request.input));
        if (!started) return fail(started.error());
        feeder = std::move(*started);
    }

    const ChildStreams streams{output->write_end.get(), error->write_end.get(),
                               input ? input->read_end.get() : ChildStreams::kHostInput,
                               request.host_descriptors};
    const ChildPlace place{request.working_directory.valid() ? request.working_directory.get()
                                                             : ChildPlace::kHostDirectory,
                           request.sandbox ? &*request.sandbox : nullptr};
    const Result<pid_t> child = spawn_child(std::move(request.argv), std::move(request.environment),
                                            streams, request.redactor, place);
    // The readers see end of file once the child and its descendants have
    // closed their copies, and the feeder a broken pipe once the child's
    // input is gone: the parent must keep none of them open.
    output->write_end.reset();
    error->write_end.reset();
    input.reset();
    if (!child) return fail(child.error());
    return wait_and_capture(*child, *readers, request.limits, request.redactor, *events,
                            request.cancellation.get(), clock);
}

}  // namespace quillbox
