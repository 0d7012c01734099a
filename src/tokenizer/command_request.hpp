#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/secret_file_folder.hpp"
#include "core/vault_entry.hpp"
#include "tokenizer/placeholders.hpp"

namespace quillbox {

// A command as a caller gives it: a command line, tokenized here, or an
// argument vector taken as it stands; and, when given, the child's
// environment as (name, value) pairs. Every word and every value of
// `environment` may hold `{{KEY}}` placeholders; names may not.
struct CommandRequest {
    std::variant<std::string, std::vector<std::string>> command;
    std::vector<std::pair<std::string, std::string>> environment;
    // What the child reads on its standard input: a text whose placeholders
    // are filled, or bytes taken as they are.
    std::optional<std::variant<std::string, SecretBytes>> input;
    // Whether words, values and the input text may hold `{{file:KEY}}` and
    // `{{url:KEY}}`, and let the braces of templates through.
    PlaceholderForms forms = PlaceholderForms::ValuesOnly;
    // Variables passed on as they are, their values never searched for
    // placeholders: an environment taken from elsewhere, such as the host's.
    // A name that `environment` holds too takes that value instead, and each
    // name is passed once, with its first value here.
    std::vector<std::pair<std::string, std::string>> literal_environment = {};
};

// The argument vector and the environment of the child, each string with its
// placeholders filled by raw values and one final NUL (an environment string
// is "NAME=value", the literal variables first), the bytes of its input,
// without a NUL, when it has one, and the folder of the files that its
// `{{file:KEY}}` placeholders name, which must outlive the child.
struct ResolvedCommand {
    std::vector<SecretBytes> argv;
    std::vector<SecretBytes> environment;
    std::optional<SecretBytes> input;
    std::optional<SecretFileFolder> files;
};

// Tokenizes a command line, checks every word, name, value and the input
// text, and only then looks up the keys: a command with a bad placeholder or
// name anywhere fails before any value is read. An empty argument vector
// fails with EmptyArgumentVector, a name that is empty or holds '=', NUL or
// "{{", in either environment, with InvalidEnvironmentName: both are refusals
// of what to start, as nothing was tokenized.
Result<ResolvedCommand> resolve_command(const CommandRequest& request, const VaultEntries& entries);

}  // namespace quillbox
