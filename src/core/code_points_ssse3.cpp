#include "core/code_points_ssse3.hpp"

#include "core/ssse3_support.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <array>

namespace quillbox {
namespace {

// For each set of lanes kept out of eight (one bit a lane), the byte
// shuffle that packs them to the front, in order.
constexpr std::array<std::array<std::uint8_t, 8>, 256> kPackBytes = [] {
    std::array<std::array<std::uint8_t, 8>, 256> table{};
    for (unsigned kept = 0; kept < 256; ++kept) {
        std::size_t front = 0;
        for (std::uint8_t lane = 0; lane < 8; ++lane) {
            if ((kept >> lane) & 1) table[kept][front++] = lane;
        }
    }
    return table;
}();

// The same for eight lanes of two bytes each.
constexpr std::array<std::array<std::uint8_t, 16>, 256> kPackPairs = [] {
    std::array<std::array<std::uint8_t, 16>, 256> table{};
    for (unsigned kept = 0; kept < 256; ++kept) {
        for (std::size_t front = 0; front < 8; ++front) {
            table[kept][2 * front] = static_cast<std::uint8_t>(2 * kPackBytes[kept][front]);
            table[kept][2 * front + 1] = static_cast<std::uint8_t>(2 * kPackBytes[kept][front] + 1);
        }
    }
    return table;
}();

QUILLBOX_SSSE3_KERNEL __m128i load(const unsigned char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// One bit for each lane of the block that holds no continuation byte.
QUILLBOX_SSSE3_KERNEL unsigned code_point_starts(__m128i block) {
    // As signed bytes, continuation bytes are those below 0xC0 that are not ASCII.
    const __m128i continuation = _mm_cmplt_epi8(block, _mm_set1_epi8(static_cast<char>(0xC0)));
    return ~static_cast<unsigned>(_mm_movemask_epi8(continuation)) & 0xFFFF;
}

// Chooses lane by lane: `ascii` where the lane's lead is below 0x80, else
// `longer`.
QUILLBOX_SSSE3_KERNEL __m128i choose(__m128i is_ascii, __m128i ascii, __m128i longer) {
    return _mm_or_si128(_mm_and_si128(is_ascii, ascii), _mm_andnot_si128(is_ascii, longer));
}

// Packs the kept units of eight 16-bit lanes to out[units]; returns how many.
QUILLBOX_SSSE3_KERNEL std::size_t pack_pairs(__m128i lanes, unsigned kept, std::uint16_t* out) {
    const __m128i shuffle = load(kPackPairs[kept].data());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(lanes, shuffle));
    return static_cast<std::size_t>(__builtin_popcount(kept));
}

// Eight lanes of 16 bits: each lead and the two bytes after it, as a code
// point of one, two or three bytes.
QUILLBOX_SSSE3_KERNEL __m128i bmp_code_points(__m128i lead, __m128i second, __m128i third) {
    const __m128i low6 = _mm_set1_epi16(0x3F);
    const __m128i second_low6 = _mm_and_si128(second, low6);
    const __m128i two =
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(lead, _mm_set1_epi16(0x1F)), 6), second_low6);
    // Shifted by 12, only the lead's four low bits stay in 16.
    const __m128i three =
        _mm_or_si128(_mm_or_si128(_mm_slli_epi16(lead, 12), _mm_slli_epi16(second_low6, 6)),
                     _mm_and_si128(third, low6));
    const __m128i is_three = _mm_cmpgt_epi16(lead, _mm_set1_epi16(0xDF));
    const __m128i longer = choose(is_three, three, two);
    return choose(_mm_cmplt_epi16(lead, _mm_set1_epi16(0x80)), lead, longer);
}

// The lanes that begin code points when the block starts with five of three
// bytes each, as CJK text mostly runs: 0, 3, 6, 9 and 12.
constexpr unsigned kFiveOfThree = 0x1249;

// Those five code points, in the first five 16-bit lanes.
QUILLBOX_SSSE3_KERNEL __m128i five_of_three(__m128i block) {
    // Each code point's third byte, then its second, as the low and high byte of a lane.
    const __m128i continuations = _mm_shuffle_epi8(
        block, _mm_setr_epi8(2, 1, 5, 4, 8, 7, 11, 10, 14, 13, -1, -1, -1, -1, -1, -1));
    const __m128i leads = _mm_shuffle_epi8(
        block, _mm_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, 12, -1, -1, -1, -1, -1, -1, -1));
    const __m128i low6 = _mm_and_si128(continuations, _mm_set1_epi16(0x003F));
    const __m128i middle6 = _mm_srli_epi16(_mm_and_si128(continuations, _mm_set1_epi16(0x3F00)), 2);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(leads, 12), middle6), low6);
}

}  // namespace

QUILLBOX_SSSE3_KERNEL DecodeProgress decode_latin1_ssse3(std::string_view utf8,
                                                         std::span<std::uint8_t> out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t taken = 0;
    std::size_t written = 0;
    while (taken + 17 <= utf8.size() && written + 16 <= out.size()) {
        const __m128i block = load(bytes + taken);
        std::uint8_t* to = out.data() + written;
        if (_mm_movemask_epi8(block) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
            taken += 16;
            written += 16;
            continue;
        }
        // 0xC2 or 0xC3 and a continuation: the lead's two low bits, then six.
        const __m128i next = load(bytes + taken + 1);
        const __m128i pair =
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(block, _mm_set1_epi8(0x03)), 6),
                         _mm_and_si128(next, _mm_set1_epi8(0x3F)));
        const __m128i is_ascii = _mm_cmpgt_epi8(block, _mm_set1_epi8(-1));
        const __m128i units = choose(is_ascii, block, pair);
        const unsigned kept = code_point_starts(block);
        const __m128i shuffle = _mm_unpacklo_epi64(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackBytes[kept & 0xFF].data())),
            _mm_add_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackBytes[kept >> 8].data())),
                _mm_set1_epi8(8)));
        const __m128i packed = _mm_shuffle_epi8(units, shuffle);
        const std::size_t low_count = static_cast<std::size_t>(__builtin_popcount(kept & 0xFF));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), packed);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + low_count), _mm_srli_si128(packed, 8));
        written += low_count + static_cast<std::size_t>(__builtin_popcount(kept >> 8));
        taken += 16;
    }
    return {taken, written};
}

QUILLBOX_SSSE3_KERNEL DecodeProgress decode_bmp_ssse3(std::string_view utf8,
                                                      std::span<std::uint16_t> out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const __m128i zero = _mm_setzero_si128();
    std::size_t taken = 0;
    std::size_t written = 0;
    while (taken + 18 <= utf8.size() && written + 16 <= out.size()) {
        const __m128i block = load(bytes + taken);
        std::uint16_t* to = out.data() + written;
        if (_mm_movemask_epi8(block) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(block, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 8), _mm_unpackhi_epi8(block, zero));
            taken += 16;
            written += 16;
            continue;
        }
        const unsigned kept = code_point_starts(block);
        if ((kept & 0x7FFF) == kFiveOfThree) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), five_of_three(block));
            taken += 15;
            written += 5;
            continue;
        }
        const __m128i second = load(bytes + taken + 1);
        const __m128i third = load(bytes + taken + 2);
        const __m128i low_half =
            bmp_code_points(_mm_unpacklo_epi8(block, zero), _mm_unpacklo_epi8(second, zero),
                            _mm_unpacklo_epi8(third, zero));
        const __m128i high_half =
            bmp_code_points(_mm_unpackhi_epi8(block, zero), _mm_unpackhi_epi8(second, zero),
                            _mm_unpackhi_epi8(third, zero));
        const std::size_t low_count = pack_pairs(low_half, kept & 0xFF, to);
        written += low_count + pack_pairs(high_half, kept >> 8, to + low_count);
        // The next block starts at a code point, where five of three bytes
        // may follow: the continuations of the last lane's are passed over.
        taken += 16;
        while (taken + 18 < utf8.size() && (bytes[taken] & 0xC0) == 0x80) ++taken;
    }
    return {taken, written};
}

}  // namespace quillbox

#endif
