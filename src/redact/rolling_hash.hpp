#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/wiping_allocator.hpp"

namespace quillbox {

// Polynomial hashing of byte ranges modulo the prime 2^61 - 1, with a base
// drawn at random for each redactor, so that no text can be made to collide
// with a pattern on purpose. Equal ranges always hash alike; a collision of
// unequal ones is as likely as one in 2^61 divided by their length, and the
// callers compare the bytes after a hash agrees.
class RangeHasher {
public:
    // A hasher with a base drawn from the system's random source.
    static RangeHasher drawn();
    explicit RangeHasher(std::uint64_t base);

    // The hash of `bytes` after those whose hash is `before` (of nothing: 0).
    std::uint64_t of(std::string_view bytes, std::uint64_t before = 0) const;
    // base^exponent: the factor by which a hash moves to make room for that
    // many bytes after it.
    std::uint64_t power(std::size_t exponent) const;
    // The hash of A followed by B, from the hash of A, the hash of B and the
    // power of B's length.
    static std::uint64_t joined(std::uint64_t first, std::uint64_t second,
                                std::uint64_t second_power);
    // The hash of B, from the hashes of A and of A followed by B and the power
    // of B's length.
    static std::uint64_t without_front(std::uint64_t whole, std::uint64_t front,
                                       std::uint64_t rest_power);

private:
    std::uint64_t base_;
};

// The hashes of a text's prefixes that end on a multiple of kStride, taken as
// far as they are covered. The hash of a covered range reads at most
// 2 * kStride bytes of it, and never a byte before the range: a caller may
// overwrite what lies before the ranges it still asks about, once they are
// covered.
class PrefixHashes {
public:
    static constexpr std::size_t kStride = 32;

    // Takes the prefix hashes as far as text[0, end) needs them.
    void cover(const RangeHasher& hasher, std::string_view text, std::size_t end);

    // The hash of text[start, end), which must be covered.
    std::uint64_t range(const RangeHasher& hasher, std::string_view text, std::size_t start,
                        std::size_t end) const;

private:
    // strides_[i] is the hash of text[0, kStride * i) as it was when covered.
    WipedVector<std::uint64_t> strides_ = WipedVector<std::uint64_t>(1, 0);
};

}  // namespace quillbox
