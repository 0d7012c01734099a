#include "redact/rolling_hash.hpp"

#include <random>

namespace quillbox {
namespace {

constexpr std::uint64_t kModulus = (std::uint64_t{1} << 61) - 1;

// The full product of two 64-bit numbers; both compilers have the type.
__extension__ using Product = unsigned __int128;

std::uint64_t reduced(std::uint64_t value) {
    value = (value & kModulus) + (value >> 61);
    return value >= kModulus ? value - kModulus : value;
}

std::uint64_t multiplied(std::uint64_t left, std::uint64_t right) {
    const Product product = static_cast<Product>(left) * right;
    const auto low = static_cast<std::uint64_t>(product & kModulus);
    const auto high = static_cast<std::uint64_t>(product >> 61);
    return reduced(low + high);
}

std::uint64_t added(std::uint64_t left, std::uint64_t right) {
    return reduced(left + right);
}

std::uint64_t subtracted(std::uint64_t left, std::uint64_t right) {
    return reduced(left + kModulus - right);
}

}  // namespace

RangeHasher RangeHasher::drawn() {
    std::random_device source;
    const std::uint64_t drawn_bits = (std::uint64_t{source()} << 32) | source();
    // A base of 0 or 1 would hash by length or by sum alone.
    return RangeHasher(2 + drawn_bits % (kModulus - 3));
}

RangeHasher::RangeHasher(std::uint64_t base) : base_(reduced(base)) {}

std::uint64_t RangeHasher::of(std::string_view bytes, std::uint64_t before) const {
    std::uint64_t hash = before;
    for (const char byte : bytes) {
        hash = added(multiplied(hash, base_), static_cast<unsigned char>(byte) + 1);
    }
    return hash;
}

std::uint64_t RangeHasher::power(std::size_t exponent) const {
    std::uint64_t result = 1;
    std::uint64_t square = base_;
    for (; exponent != 0; exponent >>= 1) {
        if ((exponent & 1) != 0) result = multiplied(result, square);
        square = multiplied(square, square);
    }
    return result;
}

std::uint64_t RangeHasher::joined(std::uint64_t first, std::uint64_t second,
                                  std::uint64_t second_power) {
    return added(multiplied(first, second_power), second);
}

std::uint64_t RangeHasher::without_front(std::uint64_t whole, std::uint64_t front,
                                         std::uint64_t rest_power) {
    return subtracted(whole, multiplied(front, rest_power));
}

void PrefixHashes::cover(const RangeHasher& hasher, std::string_view text, std::size_t end) {
    while (strides_.size() <= end / kStride) {
        const std::size_t start = (strides_.size() - 1) * kStride;
        strides_.push_back(hasher.of(text.substr(start, kStride), strides_.back()));
    }
}

std::uint64_t PrefixHashes::range(const RangeHasher& hasher, std::string_view text,
                                  std::size_t start, std::size_t end) const {
    const std::size_t first_stride = (start + kStride - 1) / kStride;
    const std::size_t last_stride = end / kStride;
    if (first_stride >= last_stride) return hasher.of(text.substr(start, end - start));
    const std::size_t middle_start = first_stride * kStride;
    const std::size_t middle_end = last_stride * kStride;
    // Two prefix hashes differ by the hash of the bytes between them, as they
    // were when covered; those lie in the range, so they are unchanged.
    const std::uint64_t middle_power = hasher.power(middle_end - middle_start);
    const std::uint64_t front = hasher.of(text.substr(start, middle_start - start));
    const std::uint64_t middle =
        RangeHasher::without_front(strides_[last_stride], strides_[first_stride], middle_power);
    const std::uint64_t back = hasher.of(text.substr(middle_end, end - middle_end));
    return RangeHasher::joined(RangeHasher::joined(front, middle, middle_power), back,
                               hasher.power(end - middle_end));
}

}  // namespace quillbox
