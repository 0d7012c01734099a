#pragma once

namespace quillbox {

// Whether this processor runs the kernels that take text sixteen bytes at a
// time (SSSE3's byte shuffles and POPCNT, which x86-64 processors have had
// since about 2008); false on any other architecture. Those kernels are
// compiled for it function by function, and only called where it is true:
// the rest of the build assumes no more than the baseline.
bool has_ssse3_kernels();

}  // namespace quillbox

#if defined(__x86_64__)
// Marks a function compiled for the kernels' instructions.
#define QUILLBOX_SSSE3_KERNEL __attribute__((target("ssse3,popcnt")))
#endif
