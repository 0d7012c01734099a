#include "vault/atomic_write.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "vault/file_io.hpp"
#include "vault/sibling_path.hpp"

namespace quillbox {
namespace {

// A full flush to stable storage: where the system offers a stronger call than
// fsync (one that also empties the drive's cache), that one.
Status sync_to_storage(int fd) {
    for (;;) {
#ifdef F_FULLFSYNC
        const int result = ::fcntl(fd, F_FULLFSYNC);
#else
        const int result = ::fsync(fd);
#endif
        if (result == 0) return {};
        if (errno != EINTR) return fail(CoreError::from_errno());
    }
}

// A leftover from an earlier failed write by a process with our ID. A failed
// metadata query counts as nothing being there.
Status remove_leftover(const std::filesystem::path& temporary) {
    if (!stat_path(temporary)) return {};
    if (::unlink(temporary.c_str()) != 0) return fail(CoreError::from_errno());
    return {};
}

Status write_temporary(const std::filesystem::path& temporary,
                       std::span<const unsigned char> bytes) {
    Result<UniqueFd> fd = open_file(temporary, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!fd) return fail(fd.error());
    if (Status written = write_all(fd->get(), bytes); !written) return written;
    return sync_to_storage(fd->get());
}

}  // namespace

Status write_atomically(const std::filesystem::path& target, std::span<const unsigned char> bytes) {
    if (Status checked = check_no_nul(target); !checked) return checked;
    const std::filesystem::path temporary =
        sibling_path(target, ".tmp." + std::to_string(::getpid()));
    if (Status removed = remove_leftover(temporary); !removed) return removed;
    if (Status written = write_temporary(temporary, bytes); !written) return written;
    if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(CoreError::from_errno());
    return {};
}

}  // namespace quillbox
