#include "tokenizer/command_request.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <unordered_set>

#include "tokenizer/placeholders.hpp"
#include "tokenizer/tokenizer.hpp"

namespace quillbox {
namespace {

Result<std::vector<std::string>> command_words(const CommandRequest& request) {
    if (const auto* line = std::get_if<std::string>(&request.command)) return tokenize(*line);
    const auto& argv = std::get<std::vector<std::string>>(request.command);
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
Result<std::vector<ParsedWord>> parse_environment(const CommandRequest& request) {
    std::vector<std::string> words;
    words.reserve(request.environment.size());
    for (const auto& [name, value] : request.environment) {
        if (!is_valid_environment_name(name)) return fail(errors::InvalidEnvironmentName{name});
        words.push_back(name + "=" + value);
    }
    return parse_words(std::move(words), request.forms);
}

// The literal variables as "NAME=value" and a NUL each, but those whose name
// the filled environment holds or an earlier literal one took.
Result<std::vector<SecretBytes>> literal_variables(const CommandRequest& request) {
    std::unordered_set<std::string_view> taken;
    for (const auto& [name, value] : request.environment) taken.insert(name);
    std::vector<SecretBytes> variables;
    variables.reserve(request.literal_environment.size());
    for (const auto& [name, value] : request.literal_environment) {
        if (!is_valid_environment_name(name)) return fail(errors::InvalidEnvironmentName{name});
        if (!taken.insert(name).second) continue;
        SecretBytes variable;
        variable.reserve(name.size() + value.size() + 2);
        variable.append(name);
        variable.push_back('=');
        variable.append(value);
        variable.push_back('\0');
        variables.push_back(std::move(variable));
    }
    return variables;
}

// The input as one word, whose placeholders are parsed; none for bytes.
Result<std::vector<ParsedWord>> parse_input(const CommandRequest& request) {
    if (!request.input) return std::vector<ParsedWord>{};
    const auto* text = std::get_if<std::string>(&*request.input);
    if (text == nullptr) return std::vector<ParsedWord>{};
    return parse_words({*text}, request.forms);
}

// The bytes the child reads: the text filled in, without the NUL that ends
// each resolved word, or the bytes given.
std::optional<SecretBytes> input_bytes(const CommandRequest& request,
                                       std::vector<SecretBytes>& filled_text) {
    if (!request.input) return std::nullopt;
    if (const auto* bytes = std::get_if<SecretBytes>(&*request.input)) return bytes->clone();
    SecretBytes text = std::move(filled_text.front());
    text.resize(text.size() - 1);
    return text;
}

}  // namespace

Result<ResolvedCommand> resolve_command(const CommandRequest& request,
                                        const VaultEntries& entries) {
    Result<std::vector<std::string>> words = command_words(request);
    if (!words) return fail(std::move(words.error()));
    Result<std::vector<ParsedWord>> parsed = parse_words(std::move(*words), request.forms);
    if (!parsed) return fail(std::move(parsed.error()));
    Result<std::vector<ParsedWord>> variables = parse_environment(request);
    if (!variables) return fail(std::move(variables.error()));
    Result<std::vector<SecretBytes>> environment = literal_variables(request);
    if (!environment) return fail(std::move(environment.error()));
    Result<std::vector<ParsedWord>> input_text = parse_input(request);
    if (!input_text) return fail(std::move(input_text.error()));

    SecretFiles files;
    Result<std::vector<SecretBytes>> argv =
        resolve_placeholders(*parsed, entries, files, request.forms);
    if (!argv) return fail(std::move(argv.error()));
    Result<std::vector<SecretBytes>> filled =
        resolve_placeholders(*variables, entries, files, request.forms);
    if (!filled) return fail(std::move(filled.error()));
    std::ranges::move(*filled, std::back_inserter(*environment));
    Result<std::vector<SecretBytes>> filled_text =
        resolve_placeholders(*input_text, entries, files, request.forms);
    if (!filled_text) return fail(std::move(filled_text.error()));
    return ResolvedCommand{std::move(*argv), std::move(*environment),
                           input_bytes(request, *filled_text), files.take()};
}

}  // namespace quillbox
