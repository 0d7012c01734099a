#include "vault/temporary_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/core_error_printer.hpp"
#include "support/store_support.hpp"

namespace quillbox {
namespace {

using testing::LockHolder;
using testing::TempDir;
using testing::write_file;

// Every name in `directory` with what it holds: a link's target, a file's
// contents.
std::map<std::string, std::string> listing_of(const std::filesystem::path& directory) {
    std::map<std::string, std::string> listing;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        listing[entry.path().filename()] =
            entry.is_symlink() ? "-> " + std::filesystem::read_symlink(entry.path()).string()
                               : testing::read_file(entry.path());
    }
    return listing;
}

// A write removes its own leftover and then creates the temporary file. In
// between, someone who may write to the vault's directory can put something
// at that name: a file of their own, which would become the vault with their
// ownership and mode, or a link, which would lead the write to a file of the
// owner's or to a new one. The creation fails instead and changes nothing.
TEST(TemporaryFile, WhatIsPlantedAtItsNameIsNeitherUsedNorFollowed) {
    struct Case {
        std::string label;
        std::function<void(const TempDir&, const std::filesystem::path&)> plant;
    };
    const std::vector<Case> cases = {
        {"a file", [](const TempDir&, const auto& at) { write_file(at, "planted"); }},
        {"a link to a file",
         [](const TempDir& dir, const auto& at) {
             write_file(dir / "victim", "the owner's");
             std::filesystem::create_symlink(dir / "victim", at);
         }},
        {"a dangling link",
         [](const TempDir& dir, const auto& at) {
             std::filesystem::create_symlink(dir / "not-yet-there", at);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const TempDir dir;
        const auto temporary = dir / "vault.bin.tmp.1";
        c.plant(dir, temporary);
        const std::map<std::string, std::string> planted = listing_of(dir.path());

        const Result<TemporaryFile> created = TemporaryFile::create(temporary);
        ASSERT_FALSE(created);
        EXPECT_TRUE(created.error().is_os_error({EEXIST})) << created.error().to_text();
        EXPECT_EQ(listing_of(dir.path()), planted);
    }
}

// Its writer holds the file locked from its creation until it is removed, and
// a sweep that finds it held leaves it alone; a leftover that nobody holds
// goes. Neither the process ID in a name nor its age has a say.
TEST(TemporaryFile, OnlyAFileThatNobodyHoldsIsRemovedAsAbandoned) {
    struct Case {
        std::string label;
        std::function<void(const TempDir&, const std::filesystem::path&)> plant;
        bool removed;
    };
    std::optional<TemporaryFile> writer;
    std::optional<LockHolder> holder;
    const std::vector<Case> cases = {
        {"a killed writer's leftover",
         [](const TempDir&, const auto& at) { write_file(at, "left"); }, true},
        {"the file of a writer at work in this process",
         [&](const TempDir&, const auto& at) {
             Result<TemporaryFile> created = TemporaryFile::create(at);
             ASSERT_TRUE(created) << created.error().to_text();
             writer.emplace(std::move(*created));
         },
         false},
        {"the file of a writer at work in another process",
         [&](const TempDir&, const auto& at) { holder.emplace(at, "held"); }, false},
        {"a link to a file",
         [](const TempDir& dir, const auto& at) {
             write_file(dir / "victim", "the owner's");
             std::filesystem::create_symlink(dir / "victim", at);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const TempDir dir;
        const auto temporary = dir / "vault.bin.tmp.1.0123456789abcdef";
        c.plant(dir, temporary);
        const std::map<std::string, std::string> planted = listing_of(dir.path());

        remove_if_abandoned(temporary);
        std::map<std::string, std::string> expected = planted;
        if (c.removed) expected.erase(temporary.filename());
        EXPECT_EQ(listing_of(dir.path()), expected);
        writer.reset();
        holder.reset();
    }
}

}  // namespace
}  // namespace quillbox
