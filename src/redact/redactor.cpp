#include "redact/redactor.hpp"

#include <array>
#include <cstring>

#include "core/utf8.hpp"
#include "redact/encodings.hpp"

namespace quillbox {
namespace {

struct EncodedForm {
    void (*append)(SecretBytes& out, std::string_view value);
    std::string_view label_suffix;
};

// The encoded forms of a value, in the order their patterns are added after
// the raw value.
const std::array<EncodedForm, 5> kEncodedForms{{
    {[](SecretBytes& out, std::string_view v) { append_base64(out, v, Base64Alphabet::Standard); },
     "_B64"},
    {[](SecretBytes& out, std::string_view v) { append_base64(out, v, Base64Alphabet::UrlSafe); },
     "_B64URL"},
    {append_percent, "_URL"},
    {[](SecretBytes& out, std::string_view v) { append_hex(out, v, HexCase::Lower); }, "_HEX"},
    {[](SecretBytes& out, std::string_view v) { append_hex(out, v, HexCase::Upper); }, "_HEX"},
}};

// The most bytes that a value of `size` bytes and all its forms take: base64
// writes four bytes for every three begun, percent at most three per byte,
// hex two.
std::size_t forms_size_bound(std::size_t size) {
    return size + 2 * ((size + 2) / 3 * 4) + 3 * size + 2 * 2 * size;
}

// The patterns of every non-empty secret, one after another in one buffer,
// and their labels likewise.
struct PatternList {
    SecretBytes bytes;
    // Pattern i ends at pattern_ends[i] in `bytes`, its label at label_ends[i] in `label_text`.
    std::vector<std::size_t> pattern_ends;
    std::string label_text;
    std::vector<std::size_t> label_ends;

    // Ends the pattern whose bytes were appended last, giving it its label.
    void end_pattern(std::string_view name, std::string_view suffix) {
        label_text.append("[REDACTED_").append(name).append(suffix).push_back(']');
        pattern_ends.push_back(bytes.size());
        label_ends.push_back(label_text.size());
    }

    std::vector<std::string_view> views() const {
        std::vector<std::string_view> views;
        views.reserve(pattern_ends.size());
        std::size_t start = 0;
        for (const std::size_t end : pattern_ends) {
            views.push_back(bytes.view().substr(start, end - start));
            start = end;
        }
        return views;
    }
};

PatternList list_patterns(const SecretList& secrets) {
    PatternList list;
    std::size_t bytes_bound = 0;
    for (const VaultEntry& entry : secrets) bytes_bound += forms_size_bound(entry.value.size());
    list.bytes.reserve(bytes_bound);
    list.pattern_ends.reserve(secrets.size() * (kEncodedForms.size() + 1));
    list.label_ends.reserve(secrets.size() * (kEncodedForms.size() + 1));
    for (const VaultEntry& entry : secrets) {
        const std::string_view raw = entry.value.view();
        if (raw.empty()) continue;
        list.bytes.append(raw);
        list.end_pattern(entry.name, "");
        for (const EncodedForm& form : kEncodedForms) {
            const std::size_t start = list.bytes.size();
            form.append(list.bytes, raw);
            // A form is compared with the raw value only, so identical forms
            // of one value are each added with their own label.
            if (list.bytes.view().substr(start) == raw) {
                list.bytes.resize(start);
                continue;
            }
            list.end_pattern(entry.name, form.label_suffix);
        }
    }
    return list;
}

// The bytes as text: nearly always valid UTF-8 already, and checking is
// cheaper than copying.
std::string decoded(std::string&& bytes) {
    if (is_valid_utf8(bytes)) return std::move(bytes);
    return decode_utf8_lossy(bytes);
}

}  // namespace

Result<Redactor> build_redactor(const SecretList& secrets) {
    return build_redactor(secrets, {});
}

Result<Redactor> build_redactor(const SecretList& secrets, const AhoCorasickOptions& options) {
    PatternList patterns = list_patterns(secrets);
    if (patterns.pattern_ends.empty()) return Redactor({}, {}, std::nullopt);
    auto matcher = AhoCorasick::build(patterns.views(), options);
    if (!matcher) return fail(errors::AutomatonBuildFailed{std::move(matcher.error())});
    return Redactor(std::move(patterns.label_text), std::move(patterns.label_ends),
                    std::move(*matcher));
}

std::string_view Redactor::label(std::size_t pattern) const {
    const std::size_t start = pattern == 0 ? 0 : label_ends_[pattern - 1];
    return std::string_view(label_text_).substr(start, label_ends_[pattern] - start);
}

void Redactor::append_redacted(std::string& out, std::string_view text, std::size_t from) const {
    while (const auto match = matcher_->find(text, from)) {
        out.append(text.substr(from, match->start - from));
        out.append(label(match->pattern));
        from = match->end;
    }
    out.append(text.substr(from));
}

std::string Redactor::redact(std::string_view text) const {
    if (!matcher_) return decode_utf8_lossy(text);
    std::string out;
    out.reserve(text.size());
    append_redacted(out, text, 0);
    return decoded(std::move(out));
}

std::string Redactor::redact(std::string&& text) const {
    if (!matcher_) return decoded(std::move(text));
    // The result is written at the front of the buffer, never beyond the end
    // of the last match, where the search goes on.
    std::size_t written = 0;
    std::size_t from = 0;
    // Moves the next `count` bytes from where the search stands to the result.
    const auto keep = [&](std::size_t count) {
        if (written != from) std::memmove(text.data() + written, text.data() + from, count);
        written += count;
    };
    while (const auto match = matcher_->find(text, from)) {
        const std::string_view replacement = label(match->pattern);
        const std::size_t kept = match->start - from;
        if (written + kept + replacement.size() > match->end) {
            // This label would overwrite bytes not yet searched: the rest
            // goes to a new buffer.
            std::string out;
            out.reserve(text.size());
            out.append(text, 0, written);
            append_redacted(out, text, from);
            return decoded(std::move(out));
        }
        keep(kept);
        std::memcpy(text.data() + written, replacement.data(), replacement.size());
        written += replacement.size();
        from = match->end;
    }
    keep(text.size() - from);
    // What lies beyond the result may be part of a secret.
    secure_zero(text.data() + written, text.size() - written);
    text.resize(written);
    return decoded(std::move(text));
}

}  // namespace quillbox
