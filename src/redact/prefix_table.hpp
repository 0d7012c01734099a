#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/wiping_allocator.hpp"

namespace quillbox {

// A run of consecutive entries of a sorted pattern list.
struct EntryRange {
    std::uint32_t first;
    std::uint32_t count;
};

// Maps the first bytes of patterns, from one to kKeyBytes of them, to the
// run of sorted entries that begin with exactly those bytes: a hash table
// with open addressing, sized once for the runs it will hold and kept at most
// three quarters full. Its keys spell the patterns' first bytes, so it is
// wiped when released.
class PrefixTable {
public:
    static constexpr std::size_t kKeyBytes = 8;

    PrefixTable() = default;
    explicit PrefixTable(std::size_t capacity);

    // `length` is from 1 to kKeyBytes; a key must not be inserted twice, and
    // no more keys than the capacity given.
    void insert(const std::uint8_t* bytes, std::size_t length, EntryRange range);

    // The run whose key is the first `length` bytes at `bytes`, if any.
    std::optional<EntryRange> find(const std::uint8_t* bytes, std::size_t length) const;

    std::size_t memory_bytes() const { return slots_.capacity() * sizeof(Slot); }

private:
    // An empty slot has a zero word; a full one holds the key's length in
    // the low bits of its word and the run's length above them.
    struct Slot {
        std::uint64_t key;
        std::uint32_t first;
        std::uint32_t word;
    };
    static constexpr unsigned kLengthBits = 4;

    std::size_t first_slot(std::uint64_t key, std::size_t length) const;

    WipedVector<Slot> slots_;
    std::size_t mask_ = 0;
};

}  // namespace quillbox
