#include "core/stack_wipe.hpp"

#include "core/secret_bytes.hpp"

namespace quillbox {

// Not inlined, so that its frame starts where its caller's callees' did; not
// instrumented, so that the area stays on the thread's own stack rather than
// on a sanitizer's separate one.
[[gnu::noinline]] __attribute__((no_sanitize("address"))) void wipe_stack_beneath_caller() {
    unsigned char area[kStackWipeSize];
    secure_zero(area, sizeof area);
}

}  // namespace quillbox
