// Writes the seed images of the vault fuzz target into the directory given:
// valid images under the fuzz passphrase, each also as a forged one whose
// records hold their plaintexts, for the target to seal and authenticate.

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/vault_fuzz_setup.hpp"
#include "vault/byte_order.hpp"
#include "vault/entry_cipher.hpp"
#include "vault/entry_plaintext.hpp"
#include "vault/format.hpp"

namespace {

using namespace quillbox;

using NamedValues = std::vector<std::array<std::string, 2>>;

VaultEntries entries_of(const NamedValues& pairs) {
    VaultEntries entries;
    for (const auto& [name, value] : pairs) entries.push_back({name, SecretBytes(value)});
    return entries;
}

// The same entries with their plaintexts in place of the sealed data, and
// zeros where the nonces, tags and MACs go.
std::vector<unsigned char> forgeable_image(const VaultEntries& entries) {
    const std::array<unsigned char, kSaltSize> salt{};
    const VaultHeader header =
        build_header(fuzzing::kSeedParams, salt, static_cast<std::uint32_t>(entries.size()));
    std::vector<unsigned char> image(header.begin(), header.end());
    image.resize(kEntryRecordsOffset);
    for (const VaultEntry& entry : entries) {
        const SecretBytes plaintext = build_entry_plaintext(entry);
        image.resize(image.size() + kNonceSize);
        append_u32_le(image, static_cast<std::uint32_t>(plaintext.size() + kGcmTagSize));
        const auto bytes = plaintext.bytes();
        image.insert(image.end(), bytes.begin(), bytes.end());
        image.resize(image.size() + kGcmTagSize);
    }
    image.resize(image.size() + kMacSize);
    return image;
}

bool write_seed(const std::filesystem::path& path, std::uint8_t flags,
                const std::vector<unsigned char>& image) {
    std::ofstream out(path, std::ios::binary);
    out.put(static_cast<char>(flags));
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::filesystem::create_directories(directory);
    const std::vector<NamedValues> seeds = {
        {},
        {{"A", ""}},
        {{"API_KEY", "sk-test-1234567890"},
         {"", ""},
         {"BINARY", std::string("\x00\x01\xff\xfe\n", 5)},
         {"n\xc3\xa4me", "v\xc3\xa4lue"},
         {"API_KEY", "a second entry of the same name"}},
    };
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        const VaultEntries entries = entries_of(seeds[i]);
        const auto image =
            encode_vault_with_passphrase(entries, fuzzing::kSeedParams, fuzzing::kPassphrase);
        if (!image) {
            std::fprintf(stderr, "%s\n", image.error().to_text().c_str());
            return 1;
        }
        const std::string number = std::to_string(i);
        if (!write_seed(directory / ("valid-" + number), 0, *image) ||
            !write_seed(directory / ("forged-" + number),
                        fuzzing::kResealRecords | fuzzing::kRecomputeMacs,
                        forgeable_image(entries))) {
            std::fprintf(stderr, "cannot write the seeds into %s\n", directory.c_str());
            return 1;
        }
    }
    return 0;
}
