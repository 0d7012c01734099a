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

  private:
    friend Result<Redactor> build_redactor(const SecretList& secrets,
                                           const AhoCorasickOptions& options);
    Redactor(std::vector<std::string> labels, std::optional<AhoCorasick> matcher)
        : labels_(std::move(labels)), matcher_(std::move(matcher)) {}

    // Pattern number i is replaced by labels_[i].
    std::vector<std::string> labels_;
    // Absent when no secret gave a pattern.
    std::optional<AhoCorasick> matcher_;
};

// Builds the patterns (raw value and its encoded forms) of every non-empty
// secret and the matcher over them.
Result<Redactor> build_redactor(const SecretList& secrets);

// The same with the matcher's limits and memory budget given.
Result<Redactor> build_redactor(const SecretList& secrets, const AhoCorasickOptions& options);

}  // namespace quillbox
