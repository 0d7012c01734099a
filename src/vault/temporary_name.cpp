#include "vault/temporary_name.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>

#include "vault/sibling_path.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kTemporarySuffix = ".tmp.";
constexpr std::size_t kRandomBytes = 8;
constexpr std::string_view kHexDigits = "0123456789abcdef";

bool is_decimal(char ch) {
    return ch >= '0' && ch <= '9';
}

bool is_lower_hex(char ch) {
    return kHexDigits.find(ch) != std::string_view::npos;
}

}  // namespace

Result<std::filesystem::path> new_temporary_path(const std::filesystem::path& target,
                                                 const RandomSource& random) {
    std::array<unsigned char, kRandomBytes> bytes{};
    if (Status filled = random(bytes); !filled) return fail(filled.error());
    std::string suffix = std::string(kTemporarySuffix) + std::to_string(::getpid()) + '.';
    for (const unsigned char byte : bytes) {
        suffix += kHexDigits[byte >> 4];
        suffix += kHexDigits[byte & 0xf];
    }
    return sibling_path(target, suffix);
}

TemporaryNames::TemporaryNames(const std::filesystem::path& target) {
    const std::filesystem::path pattern = sibling_path(target, kTemporarySuffix);
    directory_ = pattern.parent_path().empty() ? std::filesystem::path(".") : pattern.parent_path();
    prefix_ = pattern.filename().native();
}

bool TemporaryNames::matches(std::string_view file_name) const {
    if (!file_name.starts_with(prefix_)) return false;
    const std::string_view rest = file_name.substr(prefix_.size());
    const std::size_t point = rest.find('.');
    if (point == 0 || point == std::string_view::npos) return false;
    const std::string_view random = rest.substr(point + 1);
    return std::ranges::all_of(rest.substr(0, point), is_decimal) &&
           random.size() == 2 * kRandomBytes && std::ranges::all_of(random, is_lower_hex);
}

}  // namespace quillbox
