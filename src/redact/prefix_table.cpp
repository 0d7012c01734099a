#include "redact/prefix_table.hpp"

#include <bit>
#include <cstring>

namespace quillbox {
namespace {

std::uint64_t key_of(const std::uint8_t* bytes, std::size_t length) {
    std::uint64_t key = 0;
    std::memcpy(&key, bytes, length);
    return key;
}

}  // namespace

PrefixTable::PrefixTable(std::size_t capacity)
    : slots_(std::bit_ceil(capacity + capacity / 3 + 1), Slot{0, 0, 0}), mask_(slots_.size() - 1) {}

std::size_t PrefixTable::first_slot(std::uint64_t key, std::size_t length) const {
    const std::uint64_t mixed = (key ^ length) * 0x9E3779B97F4A7C15u;
    return static_cast<std::size_t>(mixed ^ mixed >> 29) & mask_;
}

void PrefixTable::insert(const std::uint8_t* bytes, std::size_t length, EntryRange range) {
    const std::uint64_t key = key_of(bytes, length);
    std::size_t slot = first_slot(key, length);
    while (slots_[slot].word != 0) slot = (slot + 1) & mask_;
    slots_[slot] = {key, range.first,
                    range.count << kLengthBits | static_cast<std::uint32_t>(length)};
}

std::optional<EntryRange> PrefixTable::find(const std::uint8_t* bytes, std::size_t length) const {
    if (slots_.empty()) return std::nullopt;
    const std::uint64_t key = key_of(bytes, length);
    for (std::size_t slot = first_slot(key, length);; slot = (slot + 1) & mask_) {
        const Slot& entry = slots_[slot];
        if (entry.word == 0) return std::nullopt;
        if (entry.key == key && (entry.word & ((1u << kLengthBits) - 1)) == length) {
            return EntryRange{entry.first, entry.word >> kLengthBits};
        }
    }
}

}  // namespace quillbox
