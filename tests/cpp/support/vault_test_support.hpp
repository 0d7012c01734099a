#pragma once

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "vault/random_source.hpp"

namespace quillbox::testing {

using Bytes = std::vector<unsigned char>;

Bytes from_hex(std::string_view hex);
std::string bytes_text(std::span<const unsigned char> bytes);
std::string to_hex(std::span<const unsigned char> bytes);

VaultEntry make_entry(std::string_view name, std::string_view value);

// Entries in the given order, each a (name, value) pair.
VaultEntries entries_of(std::initializer_list<std::pair<std::string_view, std::string_view>> pairs);

// A random source that hands out the given bytes in order and fails once they
// run out.
RandomSource fixed_random(Bytes stream);

// Sets or unsets an environment variable for the life of the object and then
// puts back what was there before.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void apply(const std::optional<std::string>& value) const;

    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace quillbox::testing
