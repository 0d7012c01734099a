#include "core/ssse3_support.hpp"

namespace quillbox {

bool has_ssse3_kernels() {
#if defined(__x86_64__)
    static const bool has = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
    return has;
#else
    return false;
#endif
}

}  // namespace quillbox
