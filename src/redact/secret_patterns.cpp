#include "redact/secret_patterns.hpp"

#include <array>
#include <span>
#include <variant>

#include "redact/encodings.hpp"

namespace quillbox {
namespace {

struct PaddedBase64 {
    Base64Alphabet alphabet;
};
struct Base64Run {
    Base64Alphabet alphabet;
    std::size_t group_offset;
};
struct Hex {
    HexCase letter_case;
};
using Encoding = std::variant<PaddedBase64, Base64Run, PercentStyle, Hex, JsonStyle>;

struct SecretForm {
    Encoding encoding;
    std::string_view label_suffix;
};

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

void append_form(SecretBytes& out, std::string_view value, const Encoding& encoding) {
    std::visit(Overloaded{
                   [&](const PaddedBase64& form) { append_base64(out, value, form.alphabet); },
                   [&](const Base64Run& form) {
                       append_base64_run(out, value, form.alphabet, form.group_offset);
                   },
                   [&](const PercentStyle& style) { append_percent(out, value, style); },
                   [&](const Hex& form) { append_hex(out, value, form.letter_case); },
                   [&](const JsonStyle& style) { append_json_string(out, value, style); },
               },
               encoding);
}

std::string_view base64_suffix(Base64Alphabet alphabet) {
    return alphabet == Base64Alphabet::Standard ? "_B64" : "_B64URL";
}

// The forms every non-empty value gives after the value itself, in order.
const std::array<SecretForm, 5> kStandardForms{{
    {PaddedBase64{Base64Alphabet::Standard}, "_B64"},
    {PaddedBase64{Base64Alphabet::UrlSafe}, "_B64URL"},
    {PercentStyle{}, "_URL"},
    {Hex{HexCase::Lower}, "_HEX"},
    {Hex{HexCase::Upper}, "_HEX"},
}};

// The forms real encoders write, in order: a value inside any Base64 text
// (HTTP Basic credentials, a value with its line feed, unpadded and JWT-style
// text), percent-encoding as URL and form encoders write it, and the inside of
// a JSON string.
std::vector<SecretForm> make_encoder_forms() {
    std::vector<SecretForm> forms;
    for (const std::size_t group_offset : {0, 1, 2}) {
        for (const Base64Alphabet alphabet : {Base64Alphabet::Standard, Base64Alphabet::UrlSafe}) {
            forms.push_back({Base64Run{alphabet, group_offset}, base64_suffix(alphabet)});
        }
    }
    for (const PercentKept kept : {PercentKept::LettersAndDigits, PercentKept::Unreserved,
                                   PercentKept::UnreservedAndSlash}) {
        for (const bool space_as_plus : {false, true}) {
            for (const HexCase hex_case : {HexCase::Upper, HexCase::Lower}) {
                forms.push_back({PercentStyle{kept, hex_case, space_as_plus}, "_URL"});
            }
        }
    }
    for (const bool ascii_only : {true, false}) {
        for (const HexCase hex_case : {HexCase::Lower, HexCase::Upper}) {
            for (const bool escape_slash : {false, true}) {
                forms.push_back({JsonStyle{ascii_only, hex_case, escape_slash}, "_JSON"});
            }
        }
    }
    return forms;
}

std::span<const SecretForm> encoder_forms() {
    static const std::vector<SecretForm> forms = make_encoder_forms();
    return forms;
}

// The most bytes that a value of `size` bytes and its standard forms take:
// base64 writes four bytes for every three begun, percent at most three per
// byte, hex two.
std::size_t standard_forms_size_bound(std::size_t size) {
    return size + 2 * ((size + 2) / 3 * 4) + 3 * size + 2 * 2 * size;
}

}  // namespace

std::string_view SecretPatterns::pattern(std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : pattern_ends_[index - 1];
    return bytes_.view().substr(start, pattern_ends_[index] - start);
}

std::string_view SecretPatterns::label(std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : label_ends_[index - 1];
    return std::string_view(label_text_).substr(start, label_ends_[index] - start);
}

std::vector<std::string_view> SecretPatterns::patterns() const {
    std::vector<std::string_view> views;
    views.reserve(size());
    for (std::size_t index = 0; index < size(); ++index) views.push_back(pattern(index));
    return views;
}

void SecretPatterns::end_pattern(std::string_view name, std::string_view label_suffix) {
    label_text_.append("[REDACTED_").append(name).append(label_suffix).push_back(']');
    pattern_ends_.push_back(bytes_.size());
    label_ends_.push_back(label_text_.size());
}

std::string_view SecretPatterns::unended() const {
    return bytes_.view().substr(pattern_ends_.empty() ? 0 : pattern_ends_.back());
}

void SecretPatterns::drop_unended() {
    bytes_.resize(bytes_.size() - unended().size());
}

bool SecretPatterns::holds(std::string_view candidate, std::size_t first) const {
    for (std::size_t index = first; index < size(); ++index) {
        if (pattern(index) == candidate) return true;
    }
    return false;
}

void SecretPatterns::append(SecretPatterns&& other) {
    const std::size_t byte_shift = bytes_.size();
    const std::size_t label_shift = label_text_.size();
    bytes_.append(other.bytes_.view());
    label_text_.append(other.label_text_);
    for (const std::size_t end : other.pattern_ends_) pattern_ends_.push_back(byte_shift + end);
    for (const std::size_t end : other.label_ends_) label_ends_.push_back(label_shift + end);
}

SecretPatterns list_secret_patterns(const SecretList& secrets) {
    SecretPatterns standard;
    SecretPatterns encoder;
    std::size_t bytes_bound = 0;
    for (const VaultEntry& entry : secrets) {
        bytes_bound += standard_forms_size_bound(entry.value.size());
    }
    standard.bytes_.reserve(bytes_bound);
    standard.pattern_ends_.reserve(secrets.size() * (kStandardForms.size() + 1));
    standard.label_ends_.reserve(secrets.size() * (kStandardForms.size() + 1));
    for (const VaultEntry& entry : secrets) {
        const std::string_view raw = entry.value.view();
        if (raw.empty()) continue;
        const std::size_t first_standard = standard.size();
        standard.bytes_.append(raw);
        standard.end_pattern(entry.name, "");
        for (const SecretForm& form : kStandardForms) {
            append_form(standard.bytes_, raw, form.encoding);
            // A standard form is compared with the raw value only, so
            // identical forms of one value are each added with their own label.
            if (standard.unended() == raw) {
                standard.drop_unended();
            } else {
                standard.end_pattern(entry.name, form.label_suffix);
            }
        }
        if (raw.size() < kMinEncoderFormBytes) continue;
        const std::size_t first_encoder = encoder.size();
        for (const SecretForm& form : encoder_forms()) {
            append_form(encoder.bytes_, raw, form.encoding);
            // A form this value gave already would never be reported again.
            const std::string_view candidate = encoder.unended();
            if (standard.holds(candidate, first_standard) ||
                encoder.holds(candidate, first_encoder)) {
                encoder.drop_unended();
            } else {
                encoder.end_pattern(entry.name, form.label_suffix);
            }
        }
    }
    standard.append(std::move(encoder));
    return standard;
}

}  // namespace quillbox
