#include "sandbox/sandbox_policy.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "core/message_format.hpp"
#include "core/unique_fd.hpp"
#include "sandbox/denials.hpp"

namespace quillbox {
namespace {

namespace fs = std::filesystem;
using namespace file_access;

constexpr FileAccess kReadOnly = kReadFile | kReadDir;

// What every command needs: programs, libraries and configuration to read and
// run; /proc and /sys to read; the harmless devices and the temporary folders
// to read and write. What a system lacks is left out.
struct SystemPath {
    const char* path;
    FileAccess access;
};
constexpr SystemPath kSystemPaths[] = {
    {"/usr", kReadAndExecute},
    {"/bin", kReadAndExecute},
    {"/sbin", kReadAndExecute},
    {"/lib", kReadAndExecute},
    {"/lib32", kReadAndExecute},
    {"/lib64", kReadAndExecute},
    {"/libx32", kReadAndExecute},
    {"/opt", kReadAndExecute},
    {"/nix/store", kReadAndExecute},
    {"/etc", kReadOnly},
    {"/run/systemd/resolve", kReadOnly},
    {"/proc", kReadOnly},
    {"/sys", kReadOnly},
    {"/dev", kReadDir},
    {"/dev/null", kEverything},
    {"/dev/zero", kEverything},
    {"/dev/full", kEverything},
    {"/dev/random", kReadFile},
    {"/dev/urandom", kReadFile},
    {"/dev/tty", kEverything},
    {"/dev/ptmx", kEverything},
    {"/dev/pts", kEverything},
    {"/dev/shm", kEverything},
    {"/tmp", kEverything},
    {"/var/tmp", kEverything},
};

struct Grant {
    fs::path path;
    FileAccess access;
};

CoreError unusable(const fs::path& path, const std::error_code& error) {
    return errors::SandboxPathUnusable{path.string(), error.value()};
}

// The caller's paths must exist: a mistyped one would otherwise leave the
// command without what it was meant to reach, or silently unguarded.
Result<std::vector<Grant>> allowed_paths(const SandboxPolicy& policy) {
    std::vector<Grant> grants;
    std::error_code error;
    for (const SystemPath& system : kSystemPaths) {
        fs::path resolved = fs::canonical(system.path, error);
        if (!error) grants.push_back({std::move(resolved), system.access});
    }
    if (const char* temporary = std::getenv("TMPDIR"); temporary != nullptr && *temporary != 0) {
        fs::path resolved = fs::canonical(temporary, error);
        if (!error) grants.push_back({std::move(resolved), kEverything});
    }
    const auto add = [&](const fs::path& path, FileAccess access) -> Status {
        fs::path resolved = fs::canonical(path, error);
        if (error) return fail(unusable(path, error));
        grants.push_back({std::move(resolved), access});
        return {};
    };
    if (Status added = add(policy.workspace, kEverything); !added) return fail(added.error());
    for (const fs::path& path : policy.readable) {
        if (Status added = add(path, kReadAndExecute); !added) return fail(added.error());
    }
    for (const fs::path& path : policy.writable) {
        if (Status added = add(path, kEverything); !added) return fail(added.error());
    }
    return grants;
}

// A denied path as it is named (a link included) and as what it leads to;
// either may not exist yet.
std::vector<fs::path> both_names_of(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error).lexically_normal();
    std::vector<fs::path> names{fs::weakly_canonical(absolute, error)};
    const fs::path as_named =
        fs::weakly_canonical(absolute.parent_path(), error) / absolute.filename();
    if (as_named != names.front()) names.push_back(as_named);
    return names;
}

Denials denials_of(const SandboxPolicy& policy, const std::vector<Grant>& grants) {
    Denials denials;
    for (const fs::path& path : policy.denied) {
        for (fs::path& name : both_names_of(path)) denials.add(std::move(name));
    }
    if (!policy.vault_file) return denials;
    for (const fs::path& vault : both_names_of(*policy.vault_file)) {
        const fs::path folder = vault.parent_path();
        const bool holds_allowed = std::ranges::any_of(
            grants, [&](const Grant& grant) { return is_within(grant.path, folder); });
        if (holds_allowed) {
            denials.add_family(folder, vault.filename().string());
        } else {
            denials.add(folder);
        }
    }
    return denials;
}

// Allows `access` beneath `path`, but not to what is denied there. A directory
// that holds a denial cannot have a rule of its own, since a rule reaches
// everything beneath it; it gets its listing only, and each of its entries
// that is not denied its own rule, in turn. Links among those entries are left
// out: what they lead to is allowed by its own rule or not at all.
Status allow_around(LandlockRuleset& ruleset, const fs::path& path, FileAccess access,
                    const Denials& denials, int open_flags) {
    if (denials.covers(path)) return {};
    const UniqueFd file(::open(path.c_str(), O_PATH | O_CLOEXEC | open_flags));
    struct stat status{};
    if (!file.valid() || ::fstat(file.get(), &status) != 0) return {};
    const bool is_directory = S_ISDIR(status.st_mode);
    if (!is_directory || !denials.lie_beneath(path)) {
        return ruleset.allow(file.get(), access, is_directory);
    }
    if (Status listed = ruleset.allow(file.get(), access & kReadDir, true); !listed) return listed;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        if (entry.is_symlink(error)) continue;
        if (Status allowed = allow_around(ruleset, entry.path(), access, denials, O_NOFOLLOW);
            !allowed) {
            return allowed;
        }
    }
    return {};
}

}  // namespace

Result<LandlockRuleset> make_ruleset(const SandboxPolicy& policy) {
    Result<LandlockRuleset> ruleset = LandlockRuleset::create();
    if (!ruleset) return ruleset;
    const Result<std::vector<Grant>> grants = allowed_paths(policy);
    if (!grants) return fail(grants.error());
    const Denials denials = denials_of(policy, *grants);
    for (const Grant& grant : *grants) {
        if (Status allowed = allow_around(*ruleset, grant.path, grant.access, denials, 0);
            !allowed) {
            return fail(std::move(allowed.error())
                            .in_circumstance("allowing " + quoted_path(grant.path) +
                                             " to a sandboxed command"));
        }
    }
    return ruleset;
}

}  // namespace quillbox
