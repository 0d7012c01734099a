#include "vault/entry_plaintext.hpp"

#include <string>
#include <string_view>

#include "core/utf8.hpp"
#include "vault/byte_order.hpp"

namespace quillbox {

SecretBytes build_entry_plaintext(const VaultEntry& entry) {
    SecretBytes plaintext;
    plaintext.reserve(kNameLengthSize + entry.name.size() + entry.value.size());
    plaintext.push_back(static_cast<unsigned char>(entry.name.size() & 0xff));
    plaintext.push_back(static_cast<unsigned char>(entry.name.size() >> 8));
    plaintext.append(entry.name);
    plaintext.append(entry.value.view());
    return plaintext;
}

Result<VaultEntry> parse_entry_plaintext(const SecretBytes& plaintext) {
    const auto bytes = plaintext.bytes();
    if (bytes.size() < kNameLengthSize) {
        return fail(errors::Truncated{kNameLengthSize, bytes.size()});
    }
    const std::size_t name_end = kNameLengthSize + load_u16_le(bytes, 0);
    if (bytes.size() < name_end) return fail(errors::Truncated{name_end, bytes.size()});
    const std::string_view name =
        plaintext.view().substr(kNameLengthSize, name_end - kNameLengthSize);
    if (!is_valid_utf8(name)) return fail(errors::IoMessage{"key name is not valid UTF-8"});
    return VaultEntry{std::string(name), SecretBytes(bytes.subspan(name_end))};
}

}  // namespace quillbox
