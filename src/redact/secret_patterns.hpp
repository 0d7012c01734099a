#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"

namespace quillbox {

// Values this long or longer are also looked for as real encoders write them.
// Shorter ones would make short patterns: a value of 8 bytes gives Base64 runs
// of 10 characters (60 bits), which text made of random Base64 characters
// holds by chance at one place in 2^60; at 4 bytes it would be 4 characters,
// found in every few megabytes of such text.
inline constexpr std::size_t kMinEncoderFormBytes = 8;

// Patterns longer than this are listed by their first kMaxHeadBytes bytes, so
// that a long value (a certificate bundle, a kubeconfig) costs the list no
// more than a few kilobytes a form; the matcher looks for still shorter heads
// (kMatcherHeadBytes), and the rest of a pattern is checked where its head is
// found (LongPatterns).
inline constexpr std::size_t kMaxHeadBytes = 4096;

// Which form of which secret a pattern is, so that it can be written whole
// again: form 0 is the value itself, then come the standard forms, then the
// encoders' forms, in the order below, then the piece forms (value_pieces.hpp),
// whose patterns are each one piece of the value, by its number.
struct PatternSource {
    std::uint32_t secret;  // the secret's number: see numbered_secret
    std::uint32_t form : 8;
    std::uint32_t piece : 24;
};

// The secret of that number, counting the entries first and then the secrets
// outside the vault.
inline const VaultEntry& numbered_secret(const SecretList& entries, const SecretList& outside,
                                         std::uint32_t number) {
    return number < entries.size() ? entries[number] : outside[number - entries.size()];
}

// The patterns that stand for secrets in output, in the order in which they
// win at the same start, and the label of each.
//
// First, for every non-empty value in entry order, the value itself and its
// standard forms (Base64 and URL-safe Base64 with padding, percent-encoding of
// everything but letters and digits and of everything but the unreserved
// characters, lower- and upper-case hex), each added unless it equals the
// value or an earlier one of the same label. Then, for every value of
// kMinEncoderFormBytes or more, the forms real encoders write
// (secret_forms.hpp): Base64 runs at each alignment in both alphabets,
// percent-encoding with the kept sets of many languages' encoders, either hex
// case and "+" for a space, JSON string escapes (HTML-safe too), HTML
// character references, and the inside of a quoted shell word or of a Python
// repr(). Of the forms that write each character on its own, only those that
// write the value differently from one another are written
// (distinct_forms.hpp). Then the pieces of the value as
// programs write it over several lines (value_pieces.hpp): each line of a
// value that spans lines, each line of its Base64 wrapped at 64 and at 76
// columns, and each line of its dumps by `xxd -p`, `xxd` and `hexdump -C`.
// Each form and each piece is added unless it equals
// a pattern the same value gave already. Two long patterns are not compared:
// both stay, and the first wins wherever both would match.
//
// Secrets from outside the vault (its master passphrase) give the same forms,
// but their place among the entries' is not last: each of their patterns comes
// before the first entry pattern that is a proper prefix of it. Where an
// entry's pattern and such a secret's both match at one start, the longer one
// wins, so that no tail of either is left in the text; of two equal ones, the
// entry's.
class SecretPatterns {
public:
    std::size_t size() const { return label_ends_.size(); }
    // The pattern's first bytes, at most kMaxHeadBytes: all of it when its
    // full length is no longer.
    std::string_view head(std::size_t index) const;
    std::size_t full_length(std::size_t index) const { return full_lengths_[index]; }
    PatternSource source(std::size_t index) const { return sources_[index]; }
    std::string_view label(std::size_t index) const;
    // Every pattern in order, each cut to at most `length` bytes.
    std::vector<std::string_view> heads(std::size_t length) const;

    // Hands over the labels, one after another in pattern order, and where
    // each ends.
    std::string take_label_text() { return std::move(label_text_); }
    std::vector<std::size_t> take_label_ends() { return std::move(label_ends_); }

private:
    friend SecretPatterns list_secret_patterns(const SecretList& entries,
                                               const SecretList& outside);

    // The patterns of the secrets in order, numbered from `first_number` on.
    static SecretPatterns of_secrets(const SecretList& secrets, std::uint32_t first_number);
    // The entries' patterns with those of the secrets outside the vault in
    // their places.
    static SecretPatterns with_outside_placed(SecretPatterns entry_patterns,
                                              SecretPatterns outside_patterns,
                                              const SecretList& entries, const SecretList& outside);

    void add(std::string_view pattern, PatternSource source, std::string_view name,
             std::string_view label_suffix);
    // Room for about this many more patterns and bytes of their labels.
    void reserve_lists(std::size_t patterns, std::size_t label_bytes);
    // Adds the other's pattern `index` after these.
    void add_copy(const SecretPatterns& other, std::size_t index);
    void push(std::string_view head, std::size_t full_length, PatternSource source);
    // Whether one of the whole patterns from `first` on, up to `end`, equals
    // `candidate`.
    bool holds(std::string_view candidate, std::size_t first, std::size_t end = SIZE_MAX) const;
    // Adds the other's patterns after these.
    void append(SecretPatterns&& other);

    // Head i ends at head_ends_[i] in heads_, label i at label_ends_[i] in
    // label_text_.
    SecretBytes heads_;
    std::vector<std::size_t> head_ends_;
    std::vector<std::size_t> full_lengths_;
    std::vector<PatternSource> sources_;
    std::string label_text_;
    std::vector<std::size_t> label_ends_;
};

SecretPatterns list_secret_patterns(const SecretList& entries, const SecretList& outside = {});

// Appends the whole pattern that `source` names, written from its secret's
// value.
void append_secret_pattern(SecretBytes& out, std::string_view value, PatternSource source);

}  // namespace quillbox
