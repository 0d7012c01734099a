#include "tokenizer/command_request.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/core_error_printer.hpp"

namespace quillbox {
namespace {

VaultEntries one_entry() {
    VaultEntries entries;
    entries.push_back(VaultEntry{"TOKEN", SecretBytes(std::string_view("s3cr3t"))});
    return entries;
}

// The child's environment strings without their final NUL.
std::vector<std::string> environment_of(const ResolvedCommand& command) {
    std::vector<std::string> variables;
    for (const SecretBytes& variable : command.environment) {
        EXPECT_EQ(variable.view().back(), '\0');
        variables.emplace_back(variable.view().substr(0, variable.size() - 1));
    }
    return variables;
}

TEST(ResolveCommand, LiteralVariablesPassAsTheyAreUnderTheFilledOnes) {
    const CommandRequest request{
        .command = std::vector<std::string>{"env"},
        .environment = {{"SHARED", "{{TOKEN}}"}, {"FILLED", "x{{TOKEN}}"}},
        .input = std::nullopt,
        .literal_environment = {{"KEPT", "{{TOKEN}} {{MISSING}} {{bad-key"},
                                {"SHARED", "from the base"},
                                {"EMPTY", ""},
                                {"KEPT", "a second value"}},
    };
    const Result<ResolvedCommand> resolved = resolve_command(request, one_entry());
    ASSERT_TRUE(resolved.has_value()) << resolved.error().to_text();
    EXPECT_EQ(environment_of(*resolved),
              (std::vector<std::string>{"KEPT={{TOKEN}} {{MISSING}} {{bad-key",
                                        "EMPTY=", "SHARED=s3cr3t", "FILLED=xs3cr3t"}));
}

TEST(ResolveCommand, ABadLiteralNameIsRefusedBeforeAnyKeyIsLookedUp) {
    using namespace std::string_view_literals;
    for (const std::string_view name : {""sv, "A=B"sv, "A\0B"sv, "{{TOKEN}}"sv}) {
        SCOPED_TRACE(name);
        const CommandRequest request{
            .command = std::vector<std::string>{"env"},
            .environment = {{"A", "{{MISSING}}"}},
            .input = std::nullopt,
            .literal_environment = {{"OK", "1"}, {std::string(name), "x"}},
        };
        const Result<ResolvedCommand> resolved = resolve_command(request, one_entry());
        ASSERT_FALSE(resolved.has_value());
        EXPECT_EQ(resolved.error(), CoreError(errors::InvalidEnvironmentName{std::string(name)}));
    }
}

}  // namespace
}  // namespace quillbox
