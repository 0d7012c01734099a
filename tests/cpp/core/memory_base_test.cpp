#include "core/memory_base.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <variant>

#include "support/core_error_printer.hpp"
#include "support/memory_test_folder.hpp"

namespace quillbox {
namespace {

namespace fs = std::filesystem;
using testing::MemoryTestFolder;

fs::path folder_with_mode(const fs::path& path, mode_t mode) {
    fs::create_directory(path);
    ::chmod(path.c_str(), mode);
    return path;
}

struct BaseCase {
    std::string label;
    std::optional<std::string> runtime_dir;
    fs::path shared_memory;
    std::variant<fs::path, errors::NoMemoryFolder> expected;
};

// $XDG_RUNTIME_DIR where it is fit, else /dev/shm where that is, else a
// NoMemoryFolder that says what is wrong with each. /proc stands for a
// folder that is not in memory.
TEST(MemoryBase, TakesTheRuntimeFolderThenSharedMemoryAndNeverADisk) {
    if (!MemoryTestFolder::available()) GTEST_SKIP() << "/dev/shm is not on tmpfs here";
    const MemoryTestFolder memory;
    const fs::path fit = folder_with_mode(memory / "fit", 0700);
    const fs::path open = folder_with_mode(memory / "open", 0755);
    const fs::path missing = memory / "missing";
    const std::string not_in_memory = "\"/proc\" is not on tmpfs or ramfs";
    const auto quoted = [](const fs::path& path) { return "\"" + path.string() + "\""; };
    std::vector<BaseCase> cases = {
        {"fit", fit.string(), "/proc", fit},
        {"unset", std::nullopt, memory.path(), memory.path()},
        {"empty", "", memory.path(), memory.path()},
        {"open to others", open.string(), memory.path(), memory.path()},
        {"unset, no shared memory", std::nullopt, "/proc",
         errors::NoMemoryFolder{"XDG_RUNTIME_DIR is not set", not_in_memory}},
        {"relative", "run/user", "/proc",
         errors::NoMemoryFolder{"XDG_RUNTIME_DIR \"run/user\" is not an absolute path",
                                not_in_memory}},
        {"open to others, no shared memory", open.string(), "/proc",
         errors::NoMemoryFolder{"XDG_RUNTIME_DIR " + quoted(open) + " has mode 0755, not 0700",
                                not_in_memory}},
        {"on no memory file system", "/proc", missing,
         errors::NoMemoryFolder{"XDG_RUNTIME_DIR " + not_in_memory,
                                quoted(missing) +
                                    " cannot be opened as a folder: No such file or directory "
                                    "(os error 2)"}},
    };
    if (::geteuid() == 0) {
        const fs::path others = folder_with_mode(memory / "others", 0700);
        ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
        cases.push_back({"another user's", others.string(), "/proc",
                         errors::NoMemoryFolder{"XDG_RUNTIME_DIR " + quoted(others) +
                                                    " is owned by user 65534, not by user 0",
                                                not_in_memory}});
    }
    for (const BaseCase& c : cases) {
        SCOPED_TRACE(c.label);
        const Result<fs::path> base =
            memory_base(c.runtime_dir ? c.runtime_dir->c_str() : nullptr, c.shared_memory);
        if (const auto* path = std::get_if<fs::path>(&c.expected)) {
            ASSERT_TRUE(base.has_value()) << base.error().to_text();
            EXPECT_EQ(*base, *path);
        } else {
            ASSERT_FALSE(base.has_value());
            EXPECT_EQ(base.error(), CoreError(std::get<errors::NoMemoryFolder>(c.expected)));
        }
    }
}

}  // namespace
}  // namespace quillbox
