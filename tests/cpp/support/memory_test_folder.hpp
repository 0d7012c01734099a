#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace quillbox::testing {

// A folder of the test's own on tmpfs (under /dev/shm), mode 0700, removed
// with everything in it when it goes: a memory base that no other run shares.
class MemoryTestFolder {
public:
    MemoryTestFolder();
    ~MemoryTestFolder();
    MemoryTestFolder(const MemoryTestFolder&) = delete;
    MemoryTestFolder& operator=(const MemoryTestFolder&) = delete;

    // Whether /dev/shm is on tmpfs here; nothing is made when it is not.
    static bool available();

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The names in a folder.
std::set<std::string> names_in(const std::filesystem::path& folder);

}  // namespace quillbox::testing
