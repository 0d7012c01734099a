#pragma once

#include <string>
#include <vector>

#include "core/secret_bytes.hpp"

namespace quillbox {

// One named secret. The name is not secret; the value is.
struct VaultEntry {
    std::string name;
    SecretBytes value;
};

using VaultEntries = std::vector<VaultEntry>;

// The (name, value) pairs that a run copies from every entry, in stored order,
// for the redactor.
using SecretList = std::vector<VaultEntry>;

}  // namespace quillbox
