#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "core/result.hpp"
#include "sandbox/landlock.hpp"

namespace quillbox {

// What a sandboxed command may reach. Beyond the paths named here it gets the
// system's programs, libraries and configuration to read and run, the
// temporary folders and the harmless devices to read and write, and /proc and
// /sys to read; nothing else, the user's home included. Paths may be relative
// (to this process's working directory) and may pass through links.
struct SandboxPolicy {
    // Read, written and run from: the folder the command works in.
    std::filesystem::path workspace;
    std::vector<std::filesystem::path> readable = {};
    std::vector<std::filesystem::path> writable = {};
    // Never reached, even beneath the workspace or another allowed path.
    std::vector<std::filesystem::path> denied = {};
    // The vault the command's secrets come from: the file and every file
    // beside it named after it (its lockfile, its temporaries, backups named
    // like it) are denied, and so is its whole folder where no allowed path
    // lies within it.
    std::optional<std::filesystem::path> vault_file = std::nullopt;
};

// The ruleset that enforces `policy`. Allowed paths that the caller named must
// exist; system paths that this system lacks are left out. A SandboxUnavailable
// error says why this kernel cannot enforce any.
Result<LandlockRuleset> make_ruleset(const SandboxPolicy& policy);

}  // namespace quillbox
