#include "sandbox/sandbox_policy.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/core_error_printer.hpp"
#include "support/spawn_test_support.hpp"

namespace quillbox {
namespace {

namespace fs = std::filesystem;
using namespace quillbox::testing;

// A tree in the home folder, outside every path that a sandbox allows by
// default:
//   work/        the workspace, holding a vault and its companions beside
//                other files
//   shared/      allowed for writing, holding a vault in a folder of its own
//   readonly/    allowed for reading
//   outside/     allowed for nothing, like a user's home
class Sandbox : public ::testing::Test {
protected:
    void SetUp() override {
        const Result<int> version = usable_landlock_version();
        if (!version) GTEST_SKIP() << version.error().to_text();
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == 0 || fs::path(home).string().starts_with("/tmp")) {
            GTEST_SKIP() << "no home folder outside /tmp, which every sandbox reaches";
        }
        root_ = fs::path(home) / (".quillbox-sandbox-test-" + std::to_string(getpid()));
        for (const char* file :
             {"work/notes.txt", "work/sub/f", "work/team.vault", "work/team.vault.lock",
              "work/team.vault.tmp.1.00ff00ff00ff00ff", "shared/vaults/own.vault",
              "shared/vaults/own.vault.bak", "shared/data", "readonly/r.txt", "outside/x"}) {
            fs::create_directories((root_ / file).parent_path());
            std::ofstream(root_ / file) << "content of " << file << "\n";
        }
    }
    void TearDown() override {
        if (!root_.empty()) fs::remove_all(root_);
    }

    SandboxPolicy policy(fs::path vault) const {
        return SandboxPolicy{.workspace = root_ / "work",
                             .readable = {root_ / "readonly"},
                             .writable = {root_ / "shared"},
                             .denied = {},
                             .vault_file = root_ / vault};
    }

    // The exit status of `script`, run by /bin/sh in the workspace under `sandbox`.
    int status_of(const std::string& script, const SandboxPolicy& sandbox) const {
        Result<LandlockRuleset> ruleset = make_ruleset(sandbox);
        EXPECT_TRUE(ruleset) << ruleset.error().to_text();
        if (!ruleset) return -1;
        const Result<Redactor> redactor = build_redactor({});
        const Result<RunOutcome> outcome = execute(ExecutorRequest{
            .argv = argv_of({"/bin/sh", "-c", "cd " + (root_ / "work").string() + " && " + script}),
            .redactor = *redactor,
            .limits = kDefaultLimits,
            .sandbox = std::move(*ruleset),
        });
        EXPECT_TRUE(outcome);
        return outcome ? outcome->exit_code : -1;
    }

    struct Case {
        const char* script;
        bool allowed;
    };

    // Each script succeeds where it is allowed, and fails where it is not.
    void expect(const SandboxPolicy& sandbox, std::initializer_list<Case> cases) const {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.script);
            const int status = status_of(c.script, sandbox);
            if (c.allowed) {
                EXPECT_EQ(status, 0);
            } else {
                EXPECT_NE(status, 0);
            }
        }
    }

    fs::path root_;
};

TEST_F(Sandbox, KeepsAVaultInTheWorkspaceOutOfReachAndTheRestOfItOpen) {
    expect(policy("work/team.vault"),
           {
               {"cat notes.txt sub/f", true},
               {"echo more >> notes.txt && echo new > sub/g && cat sub/g", true},
               {"ls", true},
               {"cat ../readonly/r.txt", true},
               {"cat /etc/hostname /usr/bin/env > /dev/null", true},
               {"cat team.vault", false},
               {"cat team.vault.lock", false},
               {"cat team.vault.tmp.1.00ff00ff00ff00ff", false},
               {": > team.vault", false},
               {"truncate -s 0 team.vault", false},
               {"rm -f team.vault", false},
               {"mv team.vault sub/", false},
               {"ln team.vault sub/hard", false},
               {"ln -s ../team.vault sub/soft && cat sub/soft", false},
               {"echo x > ../readonly/new", false},
               {"cat ../outside/x", false},
           });
    std::ifstream vault(root_ / "work/team.vault");
    std::string content;
    std::getline(vault, content);
    EXPECT_EQ(content, "content of work/team.vault");
}

// A folder above a denial has no rule of its own, only its entries do: it
// lists its names but takes no new file at its top.
TEST_F(Sandbox, DeniesTheFolderOfAVaultThatHoldsNothingAllowed) {
    expect(policy("shared/vaults/own.vault"),
           {
               {"cat ../shared/data && echo x >> ../shared/data && echo y > ../work/sub/y", true},
               {"cat ../shared/vaults/own.vault.bak", false},
               {"cat ../shared/vaults/own.vault", false},
               {"echo x > ../shared/new", false},
               {"echo x > ../shared/vaults/planted", false},
               {"cat team.vault", true},
           });
}

TEST_F(Sandbox, DeniesWhatTheCallerNamesEvenBeneathTheWorkspace) {
    SandboxPolicy sandbox = policy("shared/vaults/own.vault");
    sandbox.denied = {root_ / "work/sub", root_ / "readonly/r.txt"};
    expect(sandbox,
           {{"cat notes.txt", true}, {"cat sub/f", false}, {"cat ../readonly/r.txt", false}});
}

TEST_F(Sandbox, RefusesAnAllowedPathThatIsMissing) {
    SandboxPolicy sandbox = policy("work/team.vault");
    sandbox.readable.push_back(root_ / "missing");
    const Result<LandlockRuleset> ruleset = make_ruleset(sandbox);
    ASSERT_FALSE(ruleset);
    EXPECT_EQ(ruleset.error(),
              CoreError(errors::SandboxPathUnusable{(root_ / "missing").string(), ENOENT}));
}

}  // namespace
}  // namespace quillbox
