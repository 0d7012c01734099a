#include "support/store_support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "vault/format.hpp"

namespace quillbox::testing {
namespace {

constexpr uid_t kNobody = 65534;

void require(bool condition, const char* what) {
    if (!condition) throw std::runtime_error(what);
}

}  // namespace

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillbox-test-XXXXXX").string();
    require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
            ::chmod(entry.path().c_str(), 0700);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

void write_vault_file(const std::filesystem::path& path, const VaultEntries& entries,
                      std::string_view variable, mode_t mode) {
    const Result<VaultImage> image = encode_vault(entries, kTinyParams, variable);
    require(image.has_value(), "encode_vault failed");
    write_file(path, {reinterpret_cast<const char*>(image->data()), image->size()});
    require(::chmod(path.c_str(), mode) == 0, "chmod failed");
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void write_file(const std::filesystem::path& path, std::string_view contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    require(out.good(), "write failed");
}

mode_t mode_of(const std::filesystem::path& path) {
    struct stat metadata{};
    require(::lstat(path.c_str(), &metadata) == 0, "lstat failed");
    return metadata.st_mode;
}

VaultEntries read_vault_file(const std::filesystem::path& path, std::string_view variable) {
    const std::string image = read_file(path);
    Result<DecodedVault> decoded = decode_vault(
        {reinterpret_cast<const unsigned char*>(image.data()), image.size()}, variable);
    require(decoded.has_value(), "decode_vault failed");
    return std::move(decoded->entries);
}

LockHolder::LockHolder(const std::filesystem::path& lockfile, std::string_view record) {
    int ready[2];
    require(::pipe(ready) == 0, "pipe failed");
    pid_ = ::fork();
    require(pid_ >= 0, "fork failed");
    if (pid_ == 0) {
        ::close(ready[0]);
        const int fd = ::open(lockfile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
        if (::ftruncate(fd, 0) != 0 ||
            ::write(fd, record.data(), record.size()) != static_cast<ssize_t>(record.size())) {
            ::_exit(1);
        }
        const char byte = 1;
        if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    require(started, "lock holder did not take the lock");
}

void LockHolder::release() {
    if (pid_ < 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

void hand_to_unprivileged_user(const std::filesystem::path& path) {
    if (::geteuid() != 0) return;
    require(::chown(path.c_str(), kNobody, kNobody) == 0, "chown failed");
}

void become_unprivileged_user() {
    if (::geteuid() != 0) return;
    require(::setgid(kNobody) == 0 && ::setuid(kNobody) == 0, "dropping root failed");
}

}  // namespace quillbox::testing
