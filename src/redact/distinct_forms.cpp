#include "redact/distinct_forms.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <span>
#include <vector>

#include "core/secret_bytes.hpp"
#include "core/utf8.hpp"
#include "redact/secret_forms.hpp"

namespace quillbox {
namespace {

using FormSet = std::bitset<kMaxSecretForms>;

// How the forms write one character: the forms split into classes that write
// it alike; each form's class among them.
struct CharacterClasses {
    std::vector<FormSet> classes;
    std::array<std::uint8_t, kMaxSecretForms> class_of{};
};

CharacterClasses classes_of(std::string_view character) {
    const std::span<const SecretForm> forms = secret_forms();
    CharacterClasses result;
    // Each class's written character, one after another.
    SecretBytes written;
    std::vector<std::size_t> written_ends;
    SecretBytes candidate;
    for (std::size_t form = 0; form < forms.size(); ++form) {
        if (!forms[form].per_character) continue;
        candidate.resize(0);
        append_form(candidate, character, forms[form].encoding);
        std::size_t found = 0;
        for (std::size_t start = 0; found < written_ends.size(); ++found) {
            const std::size_t end = written_ends[found];
            if (written.view().substr(start, end - start) == candidate.view()) break;
            start = end;
        }
        if (found == written_ends.size()) {
            written.append(candidate.view());
            written_ends.push_back(written.size());
            result.classes.emplace_back();
        }
        result.classes[found].set(form);
        result.class_of[form] = static_cast<std::uint8_t>(found);
    }
    return result;
}

bool is_letter_or_digit(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= 'a' && byte <= 'z');
}

// The classes of every ASCII character, worked out once.
const std::array<CharacterClasses, 128>& ascii_classes() {
    static const std::array<CharacterClasses, 128> table = [] {
        std::array<CharacterClasses, 128> classes;
        for (unsigned byte = 0; byte < 128; ++byte) {
            const char character = static_cast<char>(byte);
            classes[byte] = classes_of(std::string_view(&character, 1));
        }
        return classes;
    }();
    return table;
}

}  // namespace

std::vector<std::uint8_t> distinct_per_character_forms(std::string_view value) {
    const std::span<const SecretForm> forms = secret_forms();
    // The classes of each distinct character that not every form keeps.
    std::vector<const CharacterClasses*> characters;
    std::vector<CharacterClasses> beyond_ascii;
    std::vector<std::string_view> beyond_ascii_seen;
    std::bitset<128> ascii_seen;
    for (std::size_t offset = 0; offset < value.size();) {
        const auto byte = static_cast<unsigned char>(value[offset]);
        if (byte < 0x80) {
            ++offset;
            if (!is_letter_or_digit(byte) && !ascii_seen.test(byte)) {
                ascii_seen.set(byte);
                characters.push_back(&ascii_classes()[byte]);
            }
            continue;
        }
        const std::string_view character =
            value.substr(offset, decode_utf8_step(value, offset).length);
        offset += character.size();
        if (std::ranges::find(beyond_ascii_seen, character) == beyond_ascii_seen.end()) {
            beyond_ascii_seen.push_back(character);
            beyond_ascii.push_back(classes_of(character));
        }
    }
    // Taken only now: the vector no longer moves.
    for (const CharacterClasses& classes : beyond_ascii) characters.push_back(&classes);

    // Forms in order: the classes of the raw value and of its standard
    // percent-encodings are decided before any encoder's form.
    std::vector<std::uint8_t> chosen;
    FormSet decided;
    for (std::size_t form = 0; form < forms.size(); ++form) {
        if (!forms[form].per_character || decided.test(form)) continue;
        // The forms that write every one of the value's characters as this
        // one does, and so the whole value.
        FormSet alike;
        alike.set();
        for (const CharacterClasses* classes : characters) {
            alike &= classes->classes[classes->class_of[form]];
        }
        decided |= alike;
        if (form >= kFirstEncoderForm) chosen.push_back(static_cast<std::uint8_t>(form));
    }
    return chosen;
}

}  // namespace quillbox
