#include "spawn/cancellation.hpp"

namespace quillbox {

Result<std::shared_ptr<Cancellation>> Cancellation::create() {
    auto event = WakeEvent::create();
    if (!event) return fail(event.error());
    return std::shared_ptr<Cancellation>(new Cancellation(std::move(*event)));
}

void Cancellation::cancel() {
    // The flag first: a waiter woken by the event must find it set.
    if (!cancelled_.exchange(true, std::memory_order_acq_rel)) event_.notify();
}

}  // namespace quillbox
