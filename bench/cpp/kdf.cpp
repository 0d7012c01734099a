// Times one vault key derivation with the given Argon2 costs and prints the
// seconds it took. bench/kdf.py runs it side by side with a reference.
//
//   bench_kdf M_COST T_COST P_COST

#include "vault/kdf.hpp"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s M_COST T_COST P_COST\n", argv[0]);
        return 2;
    }
    const quillbox::KdfParams params{static_cast<std::uint32_t>(std::stoul(argv[1])),
                                     static_cast<std::uint32_t>(std::stoul(argv[2])),
                                     static_cast<std::uint32_t>(std::stoul(argv[3]))};
    const std::array<unsigned char, quillbox::kSaltSize> salt{};

    const auto start = std::chrono::steady_clock::now();
    const auto keys = quillbox::derive_vault_keys("benchmark passphrase", salt, params);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!keys) {
        std::fprintf(stderr, "%s\n", keys.error().to_text().c_str());
        return 1;
    }
    std::printf("%.6f\n", elapsed.count());
    return 0;
}
