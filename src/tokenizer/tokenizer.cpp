#include "tokenizer/tokenizer.hpp"

#include <cstddef>
#include <optional>
#include <utility>

#include "core/unicode_properties.hpp"
#include "core/utf8.hpp"

namespace quillbox {
namespace {

// One character of the command: its code point and where its bytes lie.
struct Character {
    char32_t code_point;
    std::size_t offset;
    std::size_t length;

    std::size_t end() const { return offset + length; }
};

// Commands arrive as valid UTF-8 (text that cannot be encoded is refused
// before this point). Should an invalid sequence slip through anyway, it is
// carried along unchanged as one ordinary character.
Character character_at(std::string_view command, std::size_t offset) {
    const Utf8Step step = decode_utf8_step(command, offset);
    return {step.valid ? step.code_point : U'\uFFFD', offset, step.length};
}

// Unquoted, these start pipes, redirections, command lists, background jobs,
// globs or subshells in a shell.
bool is_refused_unquoted(char32_t code_point) {
    switch (code_point) {
        case U'&':
        case U'(':
        case U'*':
        case U';':
        case U'<':
        case U'>':
        case U'?':
        case U'[':
        case U'`':
        case U'|': return true;
        default: return false;
    }
}

// After an unquoted `$`, these would start a parameter, variable or command
// substitution in a shell. Letters and digits count in the Unicode sense, so a
// `$` is never silently kept in front of something that looks like a name.
bool starts_substitution(char32_t code_point) {
    return code_point == U'_' || code_point == U'(' || code_point == U'{' ||
           is_alphabetic(code_point) || is_numeric(code_point);
}

enum class Mode { Unquoted, SingleQuoted, DoubleQuoted };

// One left-to-right pass over the characters, with at most one character of
// look-ahead (after `$` and `\`). Used for a single command.
class CommandScanner {
public:
    explicit CommandScanner(std::string_view command) : command_(command) {}

    Result<std::vector<std::string>> scan() && {
        while (next_ < command_.size()) {
            const Character ch = character_at(command_, next_);
            next_ = ch.end();
            switch (mode_) {
                case Mode::Unquoted:
                    if (Status scanned = scan_unquoted(ch); !scanned) {
                        return fail(std::move(scanned.error()));
                    }
                    break;
                case Mode::SingleQuoted: scan_single_quoted(ch); break;
                case Mode::DoubleQuoted: scan_double_quoted(ch); break;
            }
        }
        return std::move(*this).finish();
    }

private:
    Status scan_unquoted(const Character& ch) {
        switch (ch.code_point) {
            case U' ':
            case U'\t': end_word(); return {};
            case U'\'': open_quote(Mode::SingleQuoted, ch); return {};
            case U'"': open_quote(Mode::DoubleQuoted, ch); return {};
            case U'\\': {
                const std::optional<Character> escaped = peek();
                if (!escaped) return fail(errors::TrailingBackslash{});
                append(*escaped);
                next_ = escaped->end();
                word_started_ = true;
                return {};
            }
            case U'$': {
                const std::optional<Character> following = peek();
                if (following && starts_substitution(following->code_point)) return reject(ch);
                break;
            }
            default:
                if (is_refused_unquoted(ch.code_point)) return reject(ch);
                break;
        }
        append(ch);
        word_started_ = true;
        return {};
    }

    void scan_single_quoted(const Character& ch) {
        if (ch.code_point == U'\'') {
            mode_ = Mode::Unquoted;
        } else {
            append(ch);
        }
    }

    void scan_double_quoted(const Character& ch) {
        if (ch.code_point == U'"') {
            mode_ = Mode::Unquoted;
            return;
        }
        // Inside double quotes a backslash protects only `"` and itself; before
        // anything else it stands for itself and the next character is scanned
        // as usual. Both are ASCII, so one byte of look-ahead decides.
        if (ch.code_point == U'\\' && next_ < command_.size() &&
            (command_[next_] == '"' || command_[next_] == '\\')) {
            word_.push_back(command_[next_]);
            ++next_;
            return;
        }
        append(ch);
    }

    Result<std::vector<std::string>> finish() && {
        switch (mode_) {
            case Mode::SingleQuoted: return fail(errors::UnclosedSingleQuote{quote_offset_});
            case Mode::DoubleQuoted: return fail(errors::UnclosedDoubleQuote{quote_offset_});
            case Mode::Unquoted: break;
        }
        end_word();
        if (words_.empty()) return fail(errors::EmptyCommand{});
        return std::move(words_);
    }

    std::optional<Character> peek() const {
        if (next_ >= command_.size()) return std::nullopt;
        return character_at(command_, next_);
    }

    void append(const Character& ch) { word_.append(command_.substr(ch.offset, ch.length)); }

    void open_quote(Mode mode, const Character& quote) {
        mode_ = mode;
        quote_offset_ = quote.offset;
        word_started_ = true;
    }

    // A word that was started is kept even when empty (it came from '' or "").
    void end_word() {
        if (!word_started_) return;
        words_.push_back(std::exchange(word_, std::string()));
        word_started_ = false;
    }

    static std::unexpected<CoreError> reject(const Character& ch) {
        return fail(errors::RejectedMetacharacter{ch.code_point, ch.offset});
    }

    std::string_view command_;
    std::size_t next_ = 0;  // byte offset of the next character to scan
    Mode mode_ = Mode::Unquoted;
    std::size_t quote_offset_ = 0;  // byte offset of the quote that opened the current mode
    std::string word_;
    bool word_started_ = false;
    std::vector<std::string> words_;
};

}  // namespace

Result<std::vector<std::string>> tokenize(std::string_view command) {
    return CommandScanner(command).scan();
}

}  // namespace quillbox
