// The tokenizer on any command: it never crashes, every error points at the
// character it names, and whatever words it returns come back unchanged when
// they are quoted and tokenized again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/utf8.hpp"
#include "support/fuzz_check.hpp"
#include "tokenizer/tokenizer.hpp"

namespace {

using quillbox::fuzzing::fuzz_check;
namespace errors = quillbox::errors;

// Each word in single quotes, a single quote inside one written as '\''.
std::string quoted_command(const std::vector<std::string>& words) {
    std::string command;
    for (const std::string& word : words) {
        if (!command.empty()) command += ' ';
        command += '\'';
        for (const char ch : word) {
            if (ch == '\'') {
                command += "'\\''";
            } else {
                command += ch;
            }
        }
        command += '\'';
    }
    return command;
}

void check_error(std::string_view command, const quillbox::CoreError& error) {
    const auto& detail = error.detail();
    if (const auto* rejected = std::get_if<errors::RejectedMetacharacter>(&detail)) {
        fuzz_check(rejected->offset < command.size(), "a rejected character lies in the command");
        const quillbox::Utf8Step step = quillbox::decode_utf8_step(command, rejected->offset);
        fuzz_check(step.valid && step.code_point == rejected->ch,
                   "a rejected character is the one at its offset");
    } else if (const auto* single = std::get_if<errors::UnclosedSingleQuote>(&detail)) {
        fuzz_check(single->offset < command.size() && command[single->offset] == '\'',
                   "an unclosed single quote is at its offset");
    } else if (const auto* dual = std::get_if<errors::UnclosedDoubleQuote>(&detail)) {
        fuzz_check(dual->offset < command.size() && command[dual->offset] == '"',
                   "an unclosed double quote is at its offset");
    } else if (std::holds_alternative<errors::TrailingBackslash>(detail)) {
        fuzz_check(command.ends_with('\\'), "a trailing backslash ends the command");
    } else {
        fuzz_check(std::holds_alternative<errors::EmptyCommand>(detail),
                   "the tokenizer fails only with its own errors");
    }
    // Only blanks make an empty command: a pair of quotes is already a word.
    fuzz_check(std::holds_alternative<errors::EmptyCommand>(detail) ==
                   (command.find_first_not_of(" \t") == std::string_view::npos),
               "a command is empty exactly when it holds only blanks");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view command(reinterpret_cast<const char*>(data), size);
    const auto words = quillbox::tokenize(command);
    if (!words) {
        check_error(command, words.error());
        return 0;
    }
    fuzz_check(!words->empty(), "a tokenized command has a word");
    const auto again = quillbox::tokenize(quoted_command(*words));
    fuzz_check(again.has_value() && *again == *words, "quoted words tokenize to themselves");
    return 0;
}
