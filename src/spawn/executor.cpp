#include "spawn/executor.hpp"

#include "redact/redactor.hpp"
#include "spawn/spawn_child.hpp"

namespace quillbox {

Result<RunOutcome> execute(ExecutorRequest request, Clock& clock) {
    const auto redactor = build_redactor(request.secrets);
    if (!redactor) return fail(redactor.error());
    const auto events = CaptureEvents::create();
    if (!events) return fail(events.error());
    auto child = spawn_child(std::move(request.argv), *redactor);
    if (!child) return fail(child.error());
    return wait_and_capture(std::move(*child), request.limits, *redactor, *events, clock);
}

}  // namespace quillbox
