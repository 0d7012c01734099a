#include "spawn/executor.hpp"

#include "redact/redactor.hpp"
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
    auto readers = OutputReaders::start(std::move(output->read_end), std::move(error->read_end),
                                        request.limits, *events);
    if (!readers) return fail(readers.error());

    const Result<pid_t> child =
        spawn_child(std::move(request.argv), std::move(request.environment),
                    {output->write_end.get(), error->write_end.get()}, request.redactor);
    // The readers see end of file once the child and its descendants have
    // closed their copies; the parent's must not keep the pipes open.
    output->write_end.reset();
    error->write_end.reset();
    if (!child) return fail(child.error());
    return wait_and_capture(*child, *readers, request.limits, request.redactor, *events, clock);
}

}  // namespace quillbox
