#include "redact/secret_patterns.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <span>
#include <utility>

#include "redact/distinct_forms.hpp"
#include "redact/secret_forms.hpp"
#include "redact/value_pieces.hpp"

namespace quillbox {
namespace {

// The most bytes that the heads of a value of `size` bytes and its standard
// forms take: base64 writes four bytes for every three begun, percent at most
// three per byte, hex two.
std::size_t standard_heads_size_bound(std::size_t size) {
    return std::min(size, kMaxHeadBytes) + 2 * std::min((size + 2) / 3 * 4, kMaxHeadBytes) +
           2 * std::min(3 * size, kMaxHeadBytes) + 2 * std::min(2 * size, kMaxHeadBytes);
}

// About the bytes that the heads of the encoders' forms and pieces of a value
// of `size` bytes take, for values like tokens: a few dozen forms, most of
// them two to three times the value's length.
std::size_t encoder_heads_size_estimate(std::size_t size) {
    return size < kMinEncoderFormBytes ? 0 : 32 * std::min(size, kMaxHeadBytes);
}

// A label's bytes beside the name: "[REDACTED_", the form's suffix and "]",
// for most forms.
constexpr std::size_t kLabelBytesBesideName = 16;

struct DistinctPiece {
    std::uint8_t form;  // among the piece forms
    std::uint32_t number;
    std::size_t start;  // where the piece lies in the pieces' text
    std::size_t length;
};

// The value's pieces in every piece form, in order, each but the first of
// equal ones left out; `text` receives them one after another. Sorting them
// keeps this O(n log n) in the number of pieces, which a long value has many of.
std::vector<DistinctPiece> distinct_pieces(std::string_view value, SecretBytes& text) {
    text.resize(0);
    std::vector<DistinctPiece> pieces;
    SecretBytes scratch;
    const std::span<const PieceForm> forms = piece_forms();
    for (std::uint8_t form = 0; form < forms.size(); ++form) {
        for_each_piece(value, forms[form], scratch,
                       [&](std::uint32_t number, std::string_view piece) {
                           pieces.push_back({form, number, text.size(), piece.size()});
                           text.append(piece);
                       });
    }
    const auto text_of = [&](std::size_t index) {
        return text.view().substr(pieces[index].start, pieces[index].length);
    };
    std::vector<std::size_t> by_text(pieces.size());
    std::iota(by_text.begin(), by_text.end(), 0);
    std::ranges::sort(by_text, {},
                      [&](std::size_t index) { return std::pair(text_of(index), index); });
    std::vector<bool> repeated(pieces.size(), false);
    for (std::size_t rank = 1; rank < by_text.size(); ++rank) {
        repeated[by_text[rank]] = text_of(by_text[rank - 1]) == text_of(by_text[rank]);
    }
    std::vector<DistinctPiece> distinct;
    for (std::size_t index = 0; index < pieces.size(); ++index) {
        if (!repeated[index]) distinct.push_back(pieces[index]);
    }
    return distinct;
}

}  // namespace

std::string_view SecretPatterns::head(std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : head_ends_[index - 1];
    return heads_.view().substr(start, head_ends_[index] - start);
}

std::string_view SecretPatterns::label(std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : label_ends_[index - 1];
    return std::string_view(label_text_).substr(start, label_ends_[index] - start);
}

std::vector<std::string_view> SecretPatterns::heads(std::size_t length) const {
    std::vector<std::string_view> views;
    views.reserve(size());
    for (std::size_t index = 0; index < size(); ++index) {
        views.push_back(head(index).substr(0, length));
    }
    return views;
}

void SecretPatterns::push(std::string_view head, std::size_t full_length, PatternSource source) {
    heads_.append(head);
    head_ends_.push_back(heads_.size());
    full_lengths_.push_back(full_length);
    sources_.push_back(source);
}

void SecretPatterns::add(std::string_view pattern, PatternSource source, std::string_view name,
                         std::string_view label_suffix) {
    push(pattern.substr(0, kMaxHeadBytes), pattern.size(), source);
    label_text_.append("[REDACTED_").append(name).append(label_suffix).push_back(']');
    label_ends_.push_back(label_text_.size());
}

void SecretPatterns::reserve_lists(std::size_t patterns, std::size_t label_bytes) {
    head_ends_.reserve(patterns);
    full_lengths_.reserve(patterns);
    sources_.reserve(patterns);
    label_ends_.reserve(patterns);
    label_text_.reserve(label_bytes);
}

void SecretPatterns::add_copy(const SecretPatterns& other, std::size_t index) {
    push(other.head(index), other.full_length(index), other.source(index));
    label_text_.append(other.label(index));
    label_ends_.push_back(label_text_.size());
}

bool SecretPatterns::holds(std::string_view candidate, std::size_t first, std::size_t end) const {
    if (candidate.size() > kMaxHeadBytes) return false;
    for (std::size_t index = first; index < std::min(end, size()); ++index) {
        if (full_lengths_[index] == candidate.size() && head(index) == candidate) return true;
    }
    return false;
}

void SecretPatterns::append(SecretPatterns&& other) {
    const std::size_t head_shift = heads_.size();
    const std::size_t label_shift = label_text_.size();
    heads_.append(other.heads_.view());
    label_text_.append(other.label_text_);
    for (const std::size_t end : other.head_ends_) head_ends_.push_back(head_shift + end);
    for (const std::size_t end : other.label_ends_) label_ends_.push_back(label_shift + end);
    full_lengths_.insert(full_lengths_.end(), other.full_lengths_.begin(),
                         other.full_lengths_.end());
    sources_.insert(sources_.end(), other.sources_.begin(), other.sources_.end());
}

SecretPatterns SecretPatterns::of_secrets(const SecretList& secrets, std::uint32_t first_number) {
    const std::span<const SecretForm> forms = secret_forms();
    SecretPatterns patterns;
    std::size_t bytes_estimate = 0;
    std::size_t count_estimate = 0;
    std::size_t label_bytes_estimate = 0;
    for (const VaultEntry& entry : secrets) {
        bytes_estimate += standard_heads_size_bound(entry.value.size()) +
                          encoder_heads_size_estimate(entry.value.size());
        const std::size_t count = entry.value.size() < kMinEncoderFormBytes ? 7 : 24;
        count_estimate += count;
        label_bytes_estimate += count * (entry.name.size() + kLabelBytesBesideName);
    }
    // Pages of room never used are never backed.
    patterns.heads_.reserve(bytes_estimate);
    patterns.reserve_lists(count_estimate, label_bytes_estimate);
    // Each form whole, before its head is kept, and a value's pieces.
    SecretBytes form;
    SecretBytes pieces;
    const auto write_form = [&](std::string_view value, std::uint8_t id) {
        form.resize(0);
        append_form(form, value, forms[id].encoding);
        return form.view();
    };
    // The standard forms of every value come first; where each value's lie.
    std::vector<std::pair<std::size_t, std::size_t>> standard_of(secrets.size());
    for (std::uint32_t index = 0; index < secrets.size(); ++index) {
        const VaultEntry& entry = secrets[index];
        const std::uint32_t secret = first_number + index;
        const std::string_view raw = entry.value.view();
        const std::size_t first_standard = patterns.size();
        if (!raw.empty()) {
            patterns.add(raw, {secret, 0, 0}, entry.name, forms[0].label_suffix);
        }
        // Whether an earlier standard pattern of this value under the same
        // label is `whole`: then it would never be reported.
        const auto repeats_its_label = [&](std::string_view whole, std::uint8_t id) {
            for (std::size_t index = first_standard; index < patterns.size(); ++index) {
                if (forms[patterns.source(index).form].label_suffix == forms[id].label_suffix &&
                    patterns.holds(whole, index, index + 1)) {
                    return true;
                }
            }
            return false;
        };
        for (std::uint8_t id = 1; id < kFirstEncoderForm && !raw.empty(); ++id) {
            // Identical forms under different labels (Base64 without "+" and
            // "/" is its URL-safe form too) are each added with their own.
            const std::string_view whole = write_form(raw, id);
            if (whole != raw && !repeats_its_label(whole, id)) {
                patterns.add(whole, {secret, id, 0}, entry.name, forms[id].label_suffix);
            }
        }
        standard_of[index] = {first_standard, patterns.size()};
    }
    for (std::uint32_t index = 0; index < secrets.size(); ++index) {
        const VaultEntry& entry = secrets[index];
        const std::uint32_t secret = first_number + index;
        const std::string_view raw = entry.value.view();
        if (raw.size() < kMinEncoderFormBytes) continue;
        const auto [first_standard, end_standard] = standard_of[index];
        const std::size_t first_encoder = patterns.size();
        // A form this value gave already would never be reported again.
        const auto given_already = [&](std::string_view whole, std::size_t end_encoder) {
            return patterns.holds(whole, first_standard, end_standard) ||
                   patterns.holds(whole, first_encoder, end_encoder);
        };
        const auto add_if_new = [&](std::uint8_t id) {
            const std::string_view whole = write_form(raw, id);
            if (!given_already(whole, SIZE_MAX)) {
                patterns.add(whole, {secret, id, 0}, entry.name, forms[id].label_suffix);
            }
        };
        const std::vector<std::uint8_t> per_character = distinct_per_character_forms(raw);
        auto next_per_character = per_character.begin();
        for (std::uint8_t id = kFirstEncoderForm; id < forms.size(); ++id) {
            if (!forms[id].per_character) {
                add_if_new(id);
            } else if (next_per_character != per_character.end() && *next_per_character == id) {
                add_if_new(id);
                ++next_per_character;
            }
        }
        const std::size_t end_of_forms = patterns.size();
        for (const DistinctPiece& piece : distinct_pieces(raw, pieces)) {
            const std::string_view text = pieces.view().substr(piece.start, piece.length);
            if (!given_already(text, end_of_forms)) {
                const auto id = static_cast<std::uint8_t>(forms.size() + piece.form);
                patterns.add(text, {secret, id, piece.number}, entry.name,
                             piece_forms()[piece.form].label_suffix);
            }
        }
    }
    return patterns;
}

SecretPatterns SecretPatterns::with_outside_placed(SecretPatterns entry_patterns,
                                                   SecretPatterns outside_patterns,
                                                   const SecretList& entries,
                                                   const SecretList& outside) {
    const std::size_t after_all = entry_patterns.size();
    // Whether entry pattern `shorter`, whose head begins the outside pattern
    // `longer`, is a proper prefix of it: heads that are whole say so at once,
    // others are written whole to be compared.
    SecretBytes shorter_whole;
    SecretBytes longer_whole;
    const auto is_proper_prefix = [&](std::size_t shorter, std::size_t longer) {
        const std::size_t length = entry_patterns.full_length(shorter);
        if (length >= outside_patterns.full_length(longer)) return false;
        if (length <= kMaxHeadBytes) return true;
        const auto write_whole = [&](SecretBytes& out, PatternSource source) {
            out.resize(0);
            append_secret_pattern(
                out, numbered_secret(entries, outside, source.secret).value.view(), source);
            return out.view();
        };
        return write_whole(longer_whole, outside_patterns.source(longer))
            .starts_with(write_whole(shorter_whole, entry_patterns.source(shorter)));
    };
    // Each outside pattern's place: the entry pattern it goes before, found
    // among the outside patterns sorted by head, where those that an entry
    // pattern's head begins lie together.
    std::vector<std::size_t> places(outside_patterns.size(), after_all);
    std::vector<std::size_t> by_head(outside_patterns.size());
    std::iota(by_head.begin(), by_head.end(), 0);
    const auto head_of = [&](std::size_t index) { return outside_patterns.head(index); };
    std::ranges::sort(by_head, {}, head_of);
    std::size_t unplaced = outside_patterns.size();
    for (std::size_t entry = 0; entry < entry_patterns.size() && unplaced > 0; ++entry) {
        const std::string_view head = entry_patterns.head(entry);
        for (auto candidate = std::ranges::lower_bound(by_head, head, {}, head_of);
             candidate != by_head.end() && head_of(*candidate).starts_with(head); ++candidate) {
            if (places[*candidate] == after_all && is_proper_prefix(entry, *candidate)) {
                places[*candidate] = entry;
                --unplaced;
            }
        }
    }
    if (unplaced == outside_patterns.size()) {
        entry_patterns.append(std::move(outside_patterns));
        return entry_patterns;
    }
    // In order of place, and in their own order at one place.
    std::vector<std::size_t> by_place(outside_patterns.size());
    std::iota(by_place.begin(), by_place.end(), 0);
    std::ranges::sort(by_place, {},
                      [&](std::size_t index) { return std::pair(places[index], index); });
    SecretPatterns placed;
    placed.heads_.reserve(entry_patterns.heads_.size() + outside_patterns.heads_.size());
    auto next_outside = by_place.begin();
    for (std::size_t entry = 0; entry <= after_all; ++entry) {
        for (; next_outside != by_place.end() && places[*next_outside] == entry; ++next_outside) {
            placed.add_copy(outside_patterns, *next_outside);
        }
        if (entry < after_all) placed.add_copy(entry_patterns, entry);
    }
    return placed;
}

SecretPatterns list_secret_patterns(const SecretList& entries, const SecretList& outside) {
    SecretPatterns entry_patterns = SecretPatterns::of_secrets(entries, 0);
    if (outside.empty()) return entry_patterns;
    return SecretPatterns::with_outside_placed(
        std::move(entry_patterns),
        SecretPatterns::of_secrets(outside, static_cast<std::uint32_t>(entries.size())), entries,
        outside);
}

void append_secret_pattern(SecretBytes& out, std::string_view value, PatternSource source) {
    const std::span<const SecretForm> forms = secret_forms();
    if (source.form < forms.size()) {
        append_form(out, value, forms[source.form].encoding);
    } else {
        append_piece(out, value, piece_forms()[source.form - forms.size()], source.piece);
    }
}

}  // namespace quillbox
