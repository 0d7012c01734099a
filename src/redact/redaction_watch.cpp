#include "redact/redaction_watch.hpp"

namespace quillbox {

bool RedactionWatch::gives_up() {
    if (gave_up_ || clock_ == nullptr) return gave_up_;
    if (steps_++ % kStepsPerLook == 0) gave_up_ = clock_->now() >= deadline_;
    return gave_up_;
}

}  // namespace quillbox
