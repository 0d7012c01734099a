#include "vault/atomic_write.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <optional>
#include <string>
#include <system_error>

#include "core/message_format.hpp"
#include "vault/file_io.hpp"
#include "vault/process_alive.hpp"
#include "vault/sibling_path.hpp"
#include "vault/temporary_file.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kTemporarySuffix = ".tmp.";

// A leftover from an earlier write by a process with our ID.
Status remove_leftover(const std::filesystem::path& temporary) {
    struct stat metadata{};
    if (::lstat(temporary.c_str(), &metadata) != 0) return {};
    if (::unlink(temporary.c_str()) != 0) return fail(CoreError::from_errno());
    return {};
}

Status write_through_temporary(const std::filesystem::path& target,
                               const std::filesystem::path& temporary,
                               std::span<const unsigned char> bytes) {
    if (Status removed = remove_leftover(temporary); !removed) return removed;
    Result<TemporaryFile> file = TemporaryFile::create(temporary);
    if (!file) return fail(file.error());
    if (Status written = file->write_and_sync(bytes); !written) return written;
    return file->rename_over(target);
}

// The process ID in a temporary file's name, if the name is one.
std::optional<std::uint32_t> writer_of(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix)) return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    std::uint32_t pid = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return pid;
}

}  // namespace

Status write_atomically(const std::filesystem::path& target, std::span<const unsigned char> bytes) {
    if (Status checked = check_no_nul(target); !checked) return checked;
    const std::filesystem::path temporary =
        sibling_path(target, std::string(kTemporarySuffix) + std::to_string(::getpid()));
    if (Status written = write_through_temporary(target, temporary, bytes); !written) {
        return fail(std::move(written.error())
                        .in_circumstance("writing " + quoted_path(target) + " through " +
                                         quoted_path(temporary)));
    }
    return {};
}

void remove_dead_writers_temporaries(const std::filesystem::path& target) {
    const std::filesystem::path pattern = sibling_path(target, kTemporarySuffix);
    const std::string prefix = pattern.filename().native();
    const std::filesystem::path directory =
        pattern.parent_path().empty() ? std::filesystem::path(".") : pattern.parent_path();
    std::error_code error;
    for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::optional<std::uint32_t> writer =
            writer_of(entry->path().filename().native(), prefix);
        if (writer && *writer != static_cast<std::uint32_t>(::getpid()) &&
            !process_may_be_alive(*writer)) {
            ::unlink(entry->path().c_str());
        }
    }
}

}  // namespace quillbox
