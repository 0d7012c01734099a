#include "vault/atomic_write.hpp"

#include <cerrno>
#include <system_error>

#include "core/message_format.hpp"
#include "vault/file_io.hpp"
#include "vault/temporary_file.hpp"
#include "vault/temporary_name.hpp"

namespace quillbox {
namespace {

Status write_through_temporary(const std::filesystem::path& target,
                               const std::filesystem::path& temporary,
                               std::span<const unsigned char> bytes, ExistingTarget existing) {
    Result<TemporaryFile> file = TemporaryFile::create(temporary);
    if (!file) return fail(file.error());
    if (Status written = file->write_and_sync(bytes); !written) return written;
    if (existing == ExistingTarget::Replaced) return file->rename_over(target);
    Status moved = file->rename_to_new(target);
    if (!moved && moved.error().is_os_error({EEXIST})) {
        return fail(errors::IoMessage{"a file already exists at " + quoted_path(target) +
                                      " — it is replaced only when told to"});
    }
    return moved;
}

}  // namespace

Status write_atomically(const std::filesystem::path& target, std::span<const unsigned char> bytes,
                        ExistingTarget existing) {
    if (Status checked = check_no_nul(target); !checked) return checked;
    const Result<std::filesystem::path> temporary = new_temporary_path(target);
    if (!temporary) {
        return fail(CoreError(temporary.error()).in_circumstance("writing " + quoted_path(target)));
    }
    if (Status written = write_through_temporary(target, *temporary, bytes, existing); !written) {
        return fail(std::move(written.error())
                        .in_circumstance("writing " + quoted_path(target) + " through " +
                                         quoted_path(*temporary)));
    }
    return {};
}

void remove_abandoned_temporaries(const std::filesystem::path& target) {
    const TemporaryNames names(target);
    std::error_code error;
    for (std::filesystem::directory_iterator entry(names.directory(), error), end;
         !error && entry != end; entry.increment(error)) {
        if (names.matches(entry->path().filename().native())) remove_if_abandoned(entry->path());
    }
}

}  // namespace quillbox
