#include "support/capabilities.hpp"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillbox::testing {

void drop_effective_capability(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return;
    data[CAP_TO_INDEX(capability)].effective &= ~CAP_TO_MASK(capability);
    ::syscall(SYS_capset, &header, data);
}

}  // namespace quillbox::testing
