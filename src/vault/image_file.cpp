#include "vault/image_file.hpp"

#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "core/message_format.hpp"

namespace quillbox {
namespace {

std::unexpected<CoreError> too_large(const CheckedFile& file) {
    return fail(errors::IoMessage{quoted_path(file.path) +
                                  " is larger than any vault file can be (at most " +
                                  std::to_string(kLargestImageSize) + " bytes)"});
}

std::unexpected<CoreError> failed_to_read(const CheckedFile& file, CoreError error) {
    return fail(std::move(error).in_circumstance("reading " + quoted_path(file.path)));
}

}  // namespace

Result<VaultImage> read_image_file(const CheckedFile& file) {
    const auto size = static_cast<std::uint64_t>(file.metadata.st_size);
    if (size > kLargestImageSize) return too_large(file);
    VaultImage image;
    try {
        image.reserve(size);
    } catch (const std::bad_alloc&) {
        return failed_to_read(file, errors::OsError{ENOMEM});
    }
    unsigned char chunk[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(file.fd.get(), chunk, sizeof chunk);
        if (count == 0) return image;
        if (count < 0) {
            if (errno == EINTR) continue;
            return failed_to_read(file, CoreError::from_errno());
        }
        if (image.size() + static_cast<std::size_t>(count) > kLargestImageSize) {
            return too_large(file);
        }
        image.insert(image.end(), chunk, chunk + count);
    }
}

}  // namespace quillbox
