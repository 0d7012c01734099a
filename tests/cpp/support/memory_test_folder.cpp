#include "support/memory_test_folder.hpp"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace quillbox::testing {
namespace {

constexpr const char* kSharedMemory = "/dev/shm";

}  // namespace

bool MemoryTestFolder::available() {
    struct statfs system{};
    return ::statfs(kSharedMemory, &system) == 0 && system.f_type == TMPFS_MAGIC;
}

MemoryTestFolder::MemoryTestFolder() {
    if (!available()) return;
    std::string pattern = std::string(kSharedMemory) + "/qb-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

MemoryTestFolder::~MemoryTestFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
            ::chmod(entry.path().c_str(), 0700);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

std::set<std::string> names_in(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace quillbox::testing
