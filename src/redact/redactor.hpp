#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/vault_entry.hpp"
#include "redact/aho_corasick.hpp"

namespace quillbox {

class Redactor {
public:
    // Returns the bytes with every secret form replaced by its label, decoded
    // as UTF-8 with U+FFFD for each invalid sequence. Matching happens before
    // decoding, so secrets that are not valid UTF-8 are found too. Cannot fail.
    std::string redact(std::string_view text) const;

    // The same, reusing the buffer of `text` for the result where each label
    // fits in the bytes it replaces, as with secrets longer than their labels.
    std::string redact(std::string&& text) const;

private:
    friend Result<Redactor> build_redactor(const SecretList& secrets,
                                           const AhoCorasickOptions& options);
    Redactor(std::string label_text, std::vector<std::size_t> label_ends,
             std::optional<AhoCorasick> matcher)
        : label_text_(std::move(label_text)),
          label_ends_(std::move(label_ends)),
          matcher_(std::move(matcher)) {}

    // The label that replaces pattern number `pattern`.
    std::string_view label(std::size_t pattern) const;

    // Appends `text` from `from` on to `out`, each match replaced by its label.
    void append_redacted(std::string& out, std::string_view text, std::size_t from) const;

    // Every label, one after another in pattern order; label i ends at label_ends_[i].
    std::string label_text_;
    std::vector<std::size_t> label_ends_;
    // Absent when no secret gave a pattern.
    std::optional<AhoCorasick> matcher_;
};

// Builds the patterns (raw value and its encoded forms) of every non-empty
// secret and the matcher over them.
Result<Redactor> build_redactor(const SecretList& secrets);

// The same with the matcher's limits and memory budget given.
Result<Redactor> build_redactor(const SecretList& secrets, const AhoCorasickOptions& options);

}  // namespace quillbox
