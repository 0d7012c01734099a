#include "vault/kdf.hpp"

#include <cstdlib>
#include <string>

#include "core/key_name.hpp"
#include "core/stack_wipe.hpp"
#include "core/utf8.hpp"
#include "vault/argon2id.hpp"
#include "vault/hkdf_sha256.hpp"

namespace quillbox {
namespace {

inline constexpr std::size_t kKeySize = 32;
inline constexpr std::string_view kEncryptionLabel = "quillbox-enc-v1";
inline constexpr std::string_view kMacLabel = "quillbox-mac-v1";

std::unexpected<CoreError> params_error(std::string_view reason) {
    return fail(errors::IoMessage{"argon2 params error: " + std::string(reason)});
}

// The checks Argon2 itself would make, in a fixed order and with our own
// words, then the caps on memory and work.
Status check_kdf_params(const KdfParams& params) {
    // The product wraps in 32 bits, as the lane count is checked only after it.
    const std::uint32_t minimum_for_lanes = 8u * params.p_cost;
    if (params.m_cost < 8 || params.m_cost < minimum_for_lanes) {
        return params_error("memory cost is too small");
    }
    if (params.t_cost == 0) return params_error("time cost is too small");
    if (params.p_cost == 0) return params_error("not enough threads");
    if (params.p_cost >= (1u << 24)) return params_error("too many threads");
    if (params.m_cost > kMaxMemoryCostKib) return params_error("memory cost is too large");
    if (std::uint64_t{params.m_cost} * params.t_cost > kMaxWorkKibPasses) {
        return params_error("memory cost times time cost is too large");
    }
    return {};
}

// A name that getenv cannot look up as given (empty, or holding '=' or NUL,
// which would make it find another variable) names no variable.
bool is_lookup_name(std::string_view variable) {
    return !variable.empty() &&
           variable.find_first_of(std::string_view("=\0", 2)) == std::string_view::npos;
}

Result<VaultKeys> derive_keys(std::string_view passphrase, SaltView salt, const KdfParams& params) {
    if (auto checked = check_kdf_params(params); !checked) return fail(checked.error());

    const auto hashed = argon2id(passphrase, salt, params);
    if (!hashed) return fail(hashed.error());
    const auto prk = hkdf_sha256_extract(hashed->bytes());
    if (!prk) return fail(errors::IoMessage{"HKDF extract failed"});

    auto encryption_key = hkdf_sha256_expand(prk->bytes(), kEncryptionLabel, kKeySize);
    if (!encryption_key) return fail(errors::IoMessage{"HKDF expand (enc) failed"});
    auto mac_key = hkdf_sha256_expand(prk->bytes(), kMacLabel, kKeySize);
    if (!mac_key) return fail(errors::IoMessage{"HKDF expand (mac) failed"});

    return VaultKeys{std::move(*encryption_key), std::move(*mac_key)};
}

}  // namespace

Result<SecretBytes> read_master_passphrase(std::string_view variable) {
    const char* value =
        is_lookup_name(variable) ? std::getenv(std::string(variable).c_str()) : nullptr;
    // The value is checked where it lies, so a refused value is never copied.
    if (value == nullptr || !is_valid_utf8(value)) {
        // A variable's name has the shape of a key name. Anything else is not
        // repeated in the message: it may be the passphrase, given by mistake
        // where its variable's name belongs.
        if (!is_valid_key_name(variable)) return fail(errors::InvalidVariableName{});
        return fail(errors::EnvVarNotSet{std::string(variable)});
    }
    return SecretBytes(std::string_view(value));
}

Result<VaultKeys> derive_vault_keys(std::string_view passphrase, SaltView salt,
                                    const KdfParams& params) {
    // Our buffers are wiped as they go; what the libraries left on the stack
    // on the way (libsodium leaves the Argon2 output there) is wiped here.
    Result<VaultKeys> keys = derive_keys(passphrase, salt, params);
    wipe_stack_beneath_caller();
    return keys;
}

}  // namespace quillbox
