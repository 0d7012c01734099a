#pragma once

namespace quillbox::testing {

// Takes `capability` out of the calling thread's effective set, so that root
// meets the limits and checks an ordinary user meets. For a forked child.
void drop_effective_capability(int capability);

}  // namespace quillbox::testing
