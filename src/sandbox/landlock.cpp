#include "sandbox/landlock.hpp"

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace quillbox {
namespace {

// The kernel's structures, as its interface defines them; older system headers
// lack the later fields.
struct RulesetAttributes {
    std::uint64_t handled_access_fs;
    std::uint64_t handled_access_net;
    std::uint64_t scoped;
};

struct __attribute__((packed)) PathBeneathAttributes {
    std::uint64_t allowed_access;
    std::int32_t parent_fd;
};

constexpr unsigned kCreateRulesetVersion = 1U << 0;
constexpr int kRulePathBeneath = 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1U << 0;
constexpr std::uint64_t kScopeSignal = 1U << 1;

// The size of the attributes that each version reads: the network field came
// with version 4, the scopes with version 6.
std::size_t attributes_size(int version) {
    if (version >= 6) return sizeof(RulesetAttributes);
    if (version >= 4) return offsetof(RulesetAttributes, scoped);
    return offsetof(RulesetAttributes, handled_access_net);
}

// The rights that each version knows.
FileAccess known_access(int version) {
    using namespace file_access;
    FileAccess known = kEverything & ~(kRefer | kTruncate | kIoctlDevice);
    if (version >= 2) known |= kRefer;
    if (version >= 3) known |= kTruncate;
    if (version >= 5) known |= kIoctlDevice;
    return known;
}

// The rights that concern a directory's entries, meaningless on a file.
constexpr FileAccess kDirectoryOnly =
    file_access::kReadDir | file_access::kRemoveDir | file_access::kRemoveFile |
    file_access::kMakeChar | file_access::kMakeDir | file_access::kMakeReg |
    file_access::kMakeSock | file_access::kMakeFifo | file_access::kMakeBlock |
    file_access::kMakeSym | file_access::kRefer;

long landlock_version() {
    return ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
}

CoreError unavailable(std::string reason) {
    return errors::SandboxUnavailable{std::move(reason)};
}

}  // namespace

Result<int> usable_landlock_version() {
    const long version = landlock_version();
    if (version < 0) {
        switch (errno) {
            case ENOSYS:
                return fail(unavailable("this kernel has no Landlock (Linux 6.2 or later has it)"));
            case EOPNOTSUPP:
                return fail(unavailable(
                    "Landlock is not enabled in this kernel (it is missing from the lsm= list "
                    "it was started with)"));
            default: return fail(CoreError::from_errno().in_circumstance("asking for Landlock"));
        }
    }
    if (version < kOldestUsableLandlock) {
        return fail(unavailable("this kernel's Landlock is version " + std::to_string(version) +
                                ", which cannot keep files from being truncated; version " +
                                std::to_string(kOldestUsableLandlock) +
                                " (Linux 6.2) or later is needed"));
    }
    return static_cast<int>(version);
}

Result<LandlockRuleset> LandlockRuleset::create() {
    const Result<int> version = usable_landlock_version();
    if (!version) return fail(version.error());
    const FileAccess handled = known_access(*version);
    const RulesetAttributes attributes{
        .handled_access_fs = handled,
        .handled_access_net = 0,
        .scoped = kScopeAbstractUnixSocket | kScopeSignal,
    };
    const long fd =
        ::syscall(SYS_landlock_create_ruleset, &attributes, attributes_size(*version), 0U);
    if (fd < 0) return fail(CoreError::from_errno().in_circumstance("making a Landlock ruleset"));
    return LandlockRuleset(UniqueFd(static_cast<int>(fd)), handled);
}

Status LandlockRuleset::allow(int path_fd, FileAccess access, bool is_directory) {
    FileAccess allowed = access & handled_;
    if (!is_directory) allowed &= ~kDirectoryOnly;
    if (allowed == 0) return {};
    const PathBeneathAttributes rule{allowed, path_fd};
    if (::syscall(SYS_landlock_add_rule, fd_.get(), kRulePathBeneath, &rule, 0U) != 0) {
        return fail(CoreError::from_errno());
    }
    return {};
}

Status LandlockRuleset::confine_calling_thread() const {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::syscall(SYS_landlock_restrict_self, fd_.get(), 0U) != 0) {
        return fail(CoreError::from_errno().in_circumstance("entering the sandbox"));
    }
    return {};
}

}  // namespace quillbox
