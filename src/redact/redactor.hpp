#pragma once

#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/vault_entry.hpp"

namespace quillbox {

class Redactor {
public:
    // Returns the text with every secret form replaced by its label, decoded
    // lossily as UTF-8. Cannot fail.
    std::string redact(std::string_view text) const;
    // (implementation state to be defined with the matcher)
};

// Builds the patterns (raw value and its encoded forms) of every non-empty
// secret and the matcher over them.
Result<Redactor> build_redactor(const SecretList& secrets);

}  // namespace quillbox
