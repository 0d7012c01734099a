#include <argon2.h>

#include <cstdint>
#include <string>

#include "vault/argon2id.hpp"

namespace quillbox {

Result<SecretBytes> argon2id_with_libargon2(std::string_view password, SaltView salt,
                                            const KdfParams& params) {
    // The library takes a 32-bit length; a longer password must be refused,
    // not cut short.
    if (password.size() > ARGON2_MAX_PWD_LENGTH) {
        return fail(errors::IoMessage{"argon2 hash error: password is too long"});
    }
    SecretBytes output;
    output.resize(kArgon2OutputSize);

    argon2_context context{};
    context.out = output.data();
    context.outlen = static_cast<std::uint32_t>(output.size());
    // The library only reads the password and the salt unless told to clear them.
    context.pwd = reinterpret_cast<std::uint8_t*>(const_cast<char*>(password.data()));
    context.pwdlen = static_cast<std::uint32_t>(password.size());
    context.salt = const_cast<std::uint8_t*>(salt.data());
    context.saltlen = static_cast<std::uint32_t>(salt.size());
    context.t_cost = params.t_cost;
    context.m_cost = params.m_cost;
    context.lanes = params.p_cost;
    context.threads = 1;
    context.version = ARGON2_VERSION_13;
    context.flags = ARGON2_DEFAULT_FLAGS;

    const int status = argon2_ctx(&context, Argon2_id);
    if (status != ARGON2_OK) {
        return fail(
            errors::IoMessage{std::string("argon2 hash error: ") + argon2_error_message(status)});
    }
    return output;
}

}  // namespace quillbox
