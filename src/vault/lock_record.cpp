#include "vault/lock_record.hpp"

#include "vault/rfc3339.hpp"

namespace quillbox {

std::string format_lock_record(std::uint32_t pid, WallTime acquired_at) {
    return std::to_string(pid) + '\n' + format_rfc3339_utc(acquired_at) + '\n';
}

}  // namespace quillbox
