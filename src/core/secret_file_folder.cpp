#include "core/secret_file_folder.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/message_format.hpp"
#include "core/run_folders.hpp"
#include "core/warnings.hpp"
#include "core/whole_write.hpp"
#include "core/wiping_removal.hpp"

namespace quillbox {
namespace {

CoreError os_error(int code, const std::string& doing) {
    return CoreError(errors::OsError{code}).in_circumstance(doing);
}

}  // namespace

Result<SecretFileFolder> SecretFileFolder::make_in(const std::filesystem::path& base) {
    UniqueFd base_fd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!base_fd.valid()) return fail(os_error(errno, "opening " + quoted_path(base)));
    sweep_stale_run_folders(base_fd.get());

    std::string path = (base / run_folder_template(::getpid())).string();
    if (::mkdtemp(path.data()) == nullptr) {
        return fail(os_error(errno, "making a folder in " + quoted_path(base)));
    }
    // From here on the folder is removed on every path: by `made` when it
    // goes, or here where it cannot even be opened.
    const std::string name = std::filesystem::path(path).filename().string();
    UniqueFd folder(
        ::openat(base_fd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const int open_error = errno;
    SecretFileFolder made(std::move(path), std::move(base_fd), std::move(folder));
    if (!made.folder_.valid()) {
        ::unlinkat(made.base_.get(), name.c_str(), AT_REMOVEDIR);
        return fail(os_error(open_error, "opening " + quoted_path(made.path_)));
    }
    if (::flock(made.folder_.get(), LOCK_EX | LOCK_NB) != 0) {
        return fail(os_error(errno, "locking " + quoted_path(made.path_)));
    }
    // Its owner's alone, whatever the umask.
    if (::fchmod(made.folder_.get(), S_IRWXU) != 0) {
        return fail(os_error(errno, "making " + quoted_path(made.path_) + " private"));
    }
    return made;
}

SecretFileFolder::~SecretFileFolder() {
    if (!folder_.valid()) return;  // moved from
    int first_error = 0;
    // Through the descriptors first: a file that the command moved out of the
    // folder is wiped too.
    for (const HeldFile& file : files_) {
        const int error = overwrite_with_zeros(file.fd.get());
        if (first_error == 0) first_error = error;
    }
    files_.clear();
    const int error = remove_wiping(base_.get(), path_.filename().string());
    if (first_error == 0) first_error = error;
    if (first_error != 0) {
        write_warning("the folder of a run's secret files " + quoted_path(path_) +
                      " could not be wiped and removed in full: " + os_error_text(first_error));
    }
}

Result<std::filesystem::path> SecretFileFolder::file_for(std::string_view name,
                                                         std::string_view contents) {
    for (const HeldFile& file : files_) {
        if (file.name == name) return path_ / file.name;
    }
    const std::filesystem::path path = path_ / name;
    UniqueFd fd(::openat(folder_.get(), std::string(name).c_str(),
                         O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_RDWR, S_IRUSR));
    if (!fd.valid()) return fail(os_error(errno, "making " + quoted_path(path)));
    // Held before it is filled, so that a file filled in part is wiped too.
    HeldFile& file = files_.emplace_back(HeldFile{std::string(name), std::move(fd), {}});
    // Readable by its owner alone, as programs that take a key file insist,
    // whatever the umask.
    if (::fchmod(file.fd.get(), S_IRUSR) != 0) {
        return fail(os_error(errno, "making " + quoted_path(path)));
    }
    if (const int error = write_whole_at(file.fd.get(), contents, 0)) {
        return fail(os_error(error, "filling " + quoted_path(path)));
    }
    file.view = LockedFileView::of(file.fd.get(), contents.size());
    return path;
}

}  // namespace quillbox
