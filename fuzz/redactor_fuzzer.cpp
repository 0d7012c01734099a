// The redactor against a brute-force one written from the rules, with the
// matcher holding whole patterns or, under a small state limit, their heads. The
// patterns begin with the raw value and each standard form that differs from
// it, in order, for every value, as written here anew; the encoders' forms
// that follow are checked against real encoders by the Python tests. A secret
// from outside the vault, often near an entry's value, has its patterns placed
// among the entries' so that the longer wins at one start. Matches are replaced
// leftmost-first by labels, a cut text's unfinished start of a pattern too,
// and the result is decoded as UTF-8: the text given may be any bytes.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/utf8.hpp"
#include "redact/redactor.hpp"
#include "redact/secret_patterns.hpp"
#include "support/fuzz_check.hpp"
#include "support/leftmost_first.hpp"
#include "support/text_pieces.hpp"

namespace {

using quillbox::fuzzing::fuzz_check;

std::string base64(std::string_view bytes, std::string_view last_two) {
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789" + std::string(last_two);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            group =
                group << 8 | (i + j < bytes.size() ? static_cast<std::uint8_t>(bytes[i + j]) : 0);
        }
        const std::size_t present = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= present ? alphabet[(group >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return out;
}

std::string hex(std::string_view bytes, std::string_view digits) {
    std::string out;
    for (const char ch : bytes) {
        const auto byte = static_cast<std::uint8_t>(ch);
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

// Every byte but letters, digits and `also_kept` as %XX.
std::string percent(std::string_view bytes, std::string_view also_kept) {
    std::string out;
    for (const char ch : bytes) {
        const bool kept = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                          (ch >= '0' && ch <= '9') || also_kept.find(ch) != std::string_view::npos;
        out += kept ? std::string(1, ch) : "%" + hex(std::string_view(&ch, 1), "0123456789ABCDEF");
    }
    return out;
}

// The patterns of the secrets, numbered in the order the redactor must add
// them, and the label of each.
struct Patterns {
    std::vector<std::string> bytes;
    std::vector<std::string> labels;

    void add(std::string pattern, std::string label) {
        bytes.push_back(std::move(pattern));
        labels.push_back(std::move(label));
    }
};

Patterns standard_patterns_of(const quillbox::SecretList& secrets) {
    Patterns patterns;
    for (const quillbox::VaultEntry& secret : secrets) {
        const std::string raw(secret.value.view());
        if (raw.empty()) continue;
        const std::string label = "[REDACTED_" + secret.name;
        const std::size_t first = patterns.bytes.size();
        patterns.add(raw, label + "]");
        const std::pair<std::string, std::string> forms[] = {
            {base64(raw, "+/"), label + "_B64]"},
            {base64(raw, "-_"), label + "_B64URL]"},
            {percent(raw, ""), label + "_URL]"},
            {percent(raw, "-._~"), label + "_URL]"},
            {hex(raw, "0123456789abcdef"), label + "_HEX]"},
            {hex(raw, "0123456789ABCDEF"), label + "_HEX]"},
        };
        // A form the value gave already under the same label would never be
        // reported, and is left out.
        const auto given_already = [&](const std::string& form, const std::string& form_label) {
            for (std::size_t index = first; index < patterns.bytes.size(); ++index) {
                if (patterns.bytes[index] == form && patterns.labels[index] == form_label) {
                    return true;
                }
            }
            return false;
        };
        for (const auto& [form, form_label] : forms) {
            if (form != raw && !given_already(form, form_label)) patterns.add(form, form_label);
        }
    }
    return patterns;
}

Patterns patterns_listed(const quillbox::SecretList& entries,
                         const quillbox::SecretList& outside = {}) {
    const quillbox::SecretPatterns listed = quillbox::list_secret_patterns(entries, outside);
    Patterns patterns;
    for (std::size_t index = 0; index < listed.size(); ++index) {
        patterns.add(std::string(listed.head(index)), std::string(listed.label(index)));
    }
    return patterns;
}

bool begins_with(const std::vector<std::string>& list, const std::vector<std::string>& start) {
    return list.size() >= start.size() && std::equal(start.begin(), start.end(), list.begin());
}

// The name of the secret from outside the vault, longer than any entry's, so
// that its labels tell its patterns apart.
constexpr std::string_view kOutsideName = "OUTSIDE_KEY";

bool is_outside(std::string_view label) {
    return label.starts_with("[REDACTED_" + std::string(kOutsideName));
}

// A value for the outside secret: often one that begins an entry's value, or
// that an entry's value begins.
std::string outside_value(FuzzedDataProvider& input, const quillbox::SecretList& entries) {
    std::string value = input.ConsumeRandomLengthString(12);
    if (entries.empty() || !input.ConsumeBool()) return value;
    const std::string_view entry =
        entries[input.ConsumeIntegralInRange<std::size_t>(0, entries.size() - 1)].value.view();
    return input.ConsumeBool() ? std::string(entry.substr(0, value.size()))
                               : std::string(entry) + value;
}

Patterns without_outside(const Patterns& patterns) {
    Patterns kept;
    for (std::size_t index = 0; index < patterns.bytes.size(); ++index) {
        if (!is_outside(patterns.labels[index])) {
            kept.add(patterns.bytes[index], patterns.labels[index]);
        }
    }
    return kept;
}

// Whether each pattern of the outside secret stands just before the first
// entry pattern that is a proper prefix of it, give or take others of its
// own, or after every entry pattern when none is.
bool outside_patterns_placed(const Patterns& patterns) {
    const std::size_t count = patterns.bytes.size();
    const auto first_entry_pattern = [&](std::size_t from, const auto& wanted) {
        for (std::size_t index = from; index < count; ++index) {
            if (!is_outside(patterns.labels[index]) && wanted(patterns.bytes[index])) return index;
        }
        return count;
    };
    for (std::size_t index = 0; index < count; ++index) {
        if (!is_outside(patterns.labels[index])) continue;
        const std::string_view pattern = patterns.bytes[index];
        const std::size_t first_prefix = first_entry_pattern(0, [&](std::string_view entry) {
            return entry.size() < pattern.size() && pattern.starts_with(entry);
        });
        const std::size_t next =
            first_entry_pattern(index + 1, [](std::string_view) { return true; });
        if (first_prefix != next) return false;
    }
    return true;
}

std::string redact_by_brute_force(const Patterns& patterns, std::string_view text,
                                  quillbox::TextEnd end) {
    std::string out;
    std::size_t offset = 0;
    while (const auto match =
               quillbox::testing::leftmost_first_find(patterns.bytes, text, offset)) {
        out.append(text.substr(offset, match->start - offset));
        out.append(patterns.labels[match->pattern]);
        offset = match->end;
    }
    const auto unfinished =
        end == quillbox::TextEnd::Cut
            ? quillbox::testing::longest_unfinished_match(patterns.bytes, text, offset)
            : std::nullopt;
    if (unfinished && unfinished->length >= quillbox::kMinCutSecretBytes) {
        out.append(text.substr(offset, text.size() - offset - unfinished->length));
        out.append(patterns.labels[unfinished->pattern]);
    } else {
        out.append(text.substr(offset));
    }
    return quillbox::decode_utf8_lossy(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    quillbox::SecretList secrets(input.ConsumeIntegralInRange<std::size_t>(0, 5));
    for (quillbox::VaultEntry& secret : secrets) {
        secret.name = input.ConsumeRandomLengthString(6);
        // Now and then long enough that some forms outgrow the matcher's
        // heads and are checked by their hash over several strides.
        const std::size_t longest = input.ConsumeBool() ? 12 : 80;
        secret.value = quillbox::SecretBytes(input.ConsumeRandomLengthString(longest));
    }
    quillbox::SecretList outside;
    if (input.ConsumeBool()) {
        outside.push_back(
            {std::string(kOutsideName), quillbox::SecretBytes(outside_value(input, secrets))});
    }
    const Patterns entry_patterns = patterns_listed(secrets);
    const Patterns standard = standard_patterns_of(secrets);
    fuzz_check(begins_with(entry_patterns.bytes, standard.bytes) &&
                   begins_with(entry_patterns.labels, standard.labels),
               "the standard forms of every value come first, in order");
    const Patterns patterns = patterns_listed(secrets, outside);
    const Patterns entries_kept = without_outside(patterns);
    fuzz_check(
        entries_kept.bytes == entry_patterns.bytes && entries_kept.labels == entry_patterns.labels,
        "the outside secret's patterns leave the entries' in their order");
    fuzz_check(outside_patterns_placed(patterns),
               "each outside pattern goes before the first entry pattern that begins it");
    // A run's output is redacted in place as the raw bytes it came in; a text
    // that was already decoded, so always UTF-8, goes through either overload.
    const std::string raw = quillbox::fuzzing::text_from_pieces(input, patterns.bytes);
    const std::string text = quillbox::decode_utf8_lossy(raw);

    // A small limit on the patterns' bytes makes the matcher hold only heads of them.
    quillbox::PatternMatcherOptions options;
    if (input.ConsumeBool()) {
        options.max_pattern_bytes = input.ConsumeIntegralInRange<std::size_t>(1, 96);
    }
    const auto redactor = quillbox::build_redactor(secrets, outside, options);
    if (!redactor) {
        // One-byte heads need a byte per pattern.
        fuzz_check(patterns.bytes.size() > options.max_pattern_bytes,
                   "a redactor is built whenever one-byte heads fit the limit");
        return 0;
    }
    fuzz_check(
        redactor->redact(text) == redact_by_brute_force(patterns, text, quillbox::TextEnd::Whole),
        "the redactor replaces the leftmost-first form of each secret by its label");
    fuzz_check(redactor->redact(quillbox::SecretBytes(text), quillbox::TextEnd::Cut).view() ==
                   redact_by_brute_force(patterns, text, quillbox::TextEnd::Cut),
               "a cut text's unfinished start of a secret form is labelled too");
    for (const quillbox::TextEnd end : {quillbox::TextEnd::Whole, quillbox::TextEnd::Cut}) {
        fuzz_check(redactor->redact(quillbox::SecretBytes(raw), end).view() ==
                       redact_by_brute_force(patterns, raw, end),
                   "raw bytes are redacted before they are decoded");
    }
    // The same bytes arriving in pieces, each settled part passed on at once:
    // what is passed on is never taken back, so the whole equals the text's.
    std::vector<std::size_t> piece_ends;
    for (int pieces = input.ConsumeIntegralInRange(0, 6); pieces > 0; --pieces) {
        piece_ends.push_back(input.ConsumeIntegralInRange<std::size_t>(0, raw.size()));
    }
    std::ranges::sort(piece_ends);
    piece_ends.push_back(raw.size());
    const quillbox::TextEnd end =
        input.ConsumeBool() ? quillbox::TextEnd::Cut : quillbox::TextEnd::Whole;
    quillbox::SecretBytes streamed;
    std::string pending;
    std::size_t arrived = 0;
    for (const std::size_t piece_end : piece_ends) {
        pending.append(raw, arrived, piece_end - arrived);
        arrived = piece_end;
        pending.erase(0, redactor->redact_settled(pending, streamed));
    }
    redactor->redact_ended(pending, end, streamed);
    fuzz_check(
        quillbox::decode_utf8_lossy(streamed.view()) == redact_by_brute_force(patterns, raw, end),
        "streamed in pieces, the redaction is that of the whole text");
    return 0;
}
