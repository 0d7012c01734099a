#pragma once

#include <cstddef>
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

// The patterns that stand for secrets in output, in the order in which they
// win at the same start, and the label of each.
//
// First, for every non-empty value in entry order, the value itself and its
// standard forms (Base64 and URL-safe Base64 with padding, percent-encoding of
// everything but letters and digits, lower- and upper-case hex), each added
// unless it equals the value. Then, for every value of kMinEncoderFormBytes or
// more, the forms real encoders write: Base64 runs at each alignment in both
// alphabets, percent-encoding with unreserved characters kept, either hex case
// and "+" for a space, and JSON string escapes; each is added unless it equals
// a pattern the same value gave already.
class SecretPatterns {
public:
    std::size_t size() const { return pattern_ends_.size(); }
    std::string_view pattern(std::size_t index) const;
    std::string_view label(std::size_t index) const;
    // Every pattern in order.
    std::vector<std::string_view> patterns() const;

    // Hands over the labels, one after another in pattern order, and where
    // each ends.
    std::string take_label_text() { return std::move(label_text_); }
    std::vector<std::size_t> take_label_ends() { return std::move(label_ends_); }

private:
    friend SecretPatterns list_secret_patterns(const SecretList& secrets);

    // Ends the pattern whose bytes were appended last, giving it its label.
    void end_pattern(std::string_view name, std::string_view label_suffix);
    // Drops the bytes appended since the last pattern ended.
    void drop_unended();
    // The bytes appended since the last pattern ended.
    std::string_view unended() const;
    // Whether one of the patterns from `first` on equals `candidate`.
    bool holds(std::string_view candidate, std::size_t first) const;
    // Adds the other's patterns after these.
    void append(SecretPatterns&& other);

    // Pattern i ends at pattern_ends_[i] in bytes_, its label at
    // label_ends_[i] in label_text_.
    SecretBytes bytes_;
    std::vector<std::size_t> pattern_ends_;
    std::string label_text_;
    std::vector<std::size_t> label_ends_;
};

SecretPatterns list_secret_patterns(const SecretList& secrets);

}  // namespace quillbox
