#include "tokenizer/command_spec.hpp"

#include <string_view>

#include "tokenizer/placeholders.hpp"
#include "tokenizer/tokenizer.hpp"

namespace quillbox {
namespace {

Result<std::vector<std::string>> command_words(const CommandSpec& spec) {
    if (const auto* line = std::get_if<std::string>(&spec.command)) return tokenize(*line);
    const auto& argv = std::get<std::vector<std::string>>(spec.command);
    if (argv.empty()) return fail(errors::EmptyArgumentVector{});
    return argv;
}

bool is_valid_environment_name(std::string_view name) {
    return !name.empty() &&
           name.find_first_of(std::string_view("=\0", 2)) == std::string_view::npos &&
           name.find("{{") == std::string_view::npos;
}

// Each variable as one word "NAME=value", whose placeholders can only lie in
// the value.
Result<std::vector<ParsedWord>> parse_environment(
    const std::vector<std::pair<std::string, std::string>>& environment) {
    std::vector<std::string> words;
    words.reserve(environment.size());
    for (const auto& [name, value] : environment) {
        if (!is_valid_environment_name(name)) return fail(errors::InvalidEnvironmentName{name});
        words.push_back(name + "=" + value);
    }
    return parse_words(std::move(words));
}

}  // namespace

Result<ResolvedCommand> resolve_command(const CommandSpec& spec, const VaultEntries& entries) {
    Result<std::vector<std::string>> words = command_words(spec);
    if (!words) return fail(std::move(words.error()));
    Result<std::vector<ParsedWord>> parsed = parse_words(std::move(*words));
    if (!parsed) return fail(std::move(parsed.error()));
    Result<std::vector<ParsedWord>> variables = parse_environment(spec.environment);
    if (!variables) return fail(std::move(variables.error()));

    Result<std::vector<SecretBytes>> argv = resolve_placeholders(*parsed, entries);
    if (!argv) return fail(std::move(argv.error()));
    Result<std::vector<SecretBytes>> environment = resolve_placeholders(*variables, entries);
    if (!environment) return fail(std::move(environment.error()));
    return ResolvedCommand{std::move(*argv), std::move(*environment)};
}

}  // namespace quillbox
