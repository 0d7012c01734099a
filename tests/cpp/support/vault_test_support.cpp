#include "support/vault_test_support.hpp"

#include <algorithm>
#include <memory>

namespace quillbox::testing {

Bytes from_hex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<unsigned char>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::string bytes_text(std::span<const unsigned char> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string to_hex(std::span<const unsigned char> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char byte : bytes) {
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 0xf]);
    }
    return out;
}

VaultEntry make_entry(std::string_view name, std::string_view value) {
    return VaultEntry{std::string(name), SecretBytes(value)};
}

VaultEntries entries_of(
    std::initializer_list<std::pair<std::string_view, std::string_view>> pairs) {
    VaultEntries entries;
    for (const auto& [name, value] : pairs) entries.push_back(make_entry(name, value));
    return entries;
}

RandomSource fixed_random(Bytes stream) {
    auto remaining = std::make_shared<Bytes>(std::move(stream));
    return [remaining](std::span<unsigned char> buffer) -> Status {
        if (buffer.size() > remaining->size()) {
            return fail(errors::IoMessage{"RNG fill failed"});
        }
        std::copy_n(remaining->begin(), buffer.size(), buffer.begin());
        remaining->erase(remaining->begin(), remaining->begin() + buffer.size());
        return {};
    };
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) previous_ = old;
    apply(value);
}

ScopedEnv::~ScopedEnv() {
    apply(previous_);
}

void ScopedEnv::apply(const std::optional<std::string>& value) const {
    if (value) {
        setenv(name_.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

}  // namespace quillbox::testing
