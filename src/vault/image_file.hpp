#pragma once

#include <cstdint>
#include <limits>

#include "core/result.hpp"
#include "vault/checked_open.hpp"
#include "vault/entry_cipher.hpp"
#include "vault/format.hpp"
#include "vault/vault_state.hpp"

namespace quillbox {

// The largest image the store reads: as many entries as a vault takes, each
// of the largest record the format can hold, with the header, its MAC and
// the commit tag. (The format alone bounds nothing useful: 2^32 - 1 records.)
inline constexpr std::uint64_t kLargestImageSize =
    kMaxVaultEntries *
        (kRecordPrefixSize + std::uint64_t{std::numeric_limits<std::uint32_t>::max()}) +
    kMinImageSize;

// The whole of an opened vault or import file. One larger than
// kLargestImageSize is refused before anything is read, and one that grows
// past it while it is read is refused then; errors name the file.
Result<VaultImage> read_image_file(const CheckedFile& file);

}  // namespace quillbox
