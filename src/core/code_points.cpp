#include "core/code_points.hpp"

#include <algorithm>
#include <cstring>

#include "core/code_points_ssse3.hpp"
#include "core/ssse3_support.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillbox {
namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

char32_t ceiling_of_largest_byte(unsigned char largest) {
    if (largest < 0x80) return 0x7F;
    // 0xC2 and 0xC3 lead U+0080 to U+00FF, 0xC4 to 0xEF the rest below U+10000.
    if (largest < 0xC4) return 0xFF;
    if (largest < 0xF0) return 0xFFFF;
    return 0x10FFFF;
}

struct ByteTally {
    std::size_t continuations = 0;
    unsigned char largest = 0;
};

void tally_bytes(const unsigned char* bytes, std::size_t size, ByteTally& tally) {
    for (std::size_t i = 0; i < size; ++i) {
        tally.continuations += is_continuation(bytes[i]) ? 1 : 0;
        tally.largest = std::max(tally.largest, bytes[i]);
    }
}

#if defined(__SSE2__)
// Sixteen bytes at a time: each lane counts its continuation bytes for up to
// 255 blocks, then the lanes are summed.
void tally_blocks(const unsigned char* bytes, std::size_t blocks, ByteTally& tally) {
    const __m128i below_0xc0 = _mm_set1_epi8(static_cast<char>(0xC0));
    __m128i largest = _mm_setzero_si128();
    while (blocks > 0) {
        const std::size_t batch = std::min<std::size_t>(blocks, 255);
        __m128i counts = _mm_setzero_si128();
        for (std::size_t block = 0; block < batch; ++block, bytes += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
            // As signed bytes, continuation bytes are those below 0xC0 (-64) but not ASCII.
            counts = _mm_sub_epi8(counts, _mm_cmplt_epi8(chunk, below_0xc0));
            largest = _mm_max_epu8(largest, chunk);
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        tally.continuations += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
                               static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
        blocks -= batch;
    }
    alignas(16) unsigned char lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), largest);
    for (const unsigned char lane : lanes) tally.largest = std::max(tally.largest, lane);
}
#endif

template <typename Unit>
void decode_into(std::string_view utf8, std::span<Unit> out) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    std::size_t i = 0;
    std::size_t k = 0;
    while (i < size && k < out.size()) {
        // Runs of ASCII, most text, go eight bytes at a time.
        while (i + 8 <= size && k + 8 <= out.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            if ((word & 0x8080808080808080) != 0) break;
            for (std::size_t lane = 0; lane < 8; ++lane) out[k + lane] = bytes[i + lane];
            i += 8;
            k += 8;
        }
        if (k == out.size()) break;
        const unsigned char lead = bytes[i++];
        // A continuation byte here belongs to a code point already written,
        // or, in text that is not valid UTF-8, to none.
        if (is_continuation(lead)) continue;
        char32_t code_point = lead;
        if (lead >= 0xC0) {
            const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
            code_point = lead & (0x3F >> more);
            for (int m = 0; m < more && i < size && is_continuation(bytes[i]); ++m, ++i) {
                code_point = (code_point << 6) | (bytes[i] & 0x3F);
            }
        }
        out[k++] = static_cast<Unit>(code_point);
    }
}

}  // namespace

CodePointCount count_code_points(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    ByteTally tally;
    std::size_t done = 0;
#if defined(__SSE2__)
    done = utf8.size() / 16 * 16;
    tally_blocks(bytes, done / 16, tally);
#endif
    tally_bytes(bytes + done, utf8.size() - done, tally);
    return {utf8.size() - tally.continuations, ceiling_of_largest_byte(tally.largest)};
}

// The kernels take what they can, and the rest goes code point by code point.
void decode_code_points(std::string_view utf8, std::span<std::uint8_t> out) {
    DecodeProgress progress{0, 0};
#if defined(__x86_64__)
    if (has_ssse3_kernels()) progress = decode_latin1_ssse3(utf8, out);
#endif
    decode_into(utf8.substr(progress.bytes), out.subspan(progress.units));
}

void decode_code_points(std::string_view utf8, std::span<std::uint16_t> out) {
    DecodeProgress progress{0, 0};
#if defined(__x86_64__)
    if (has_ssse3_kernels()) progress = decode_bmp_ssse3(utf8, out);
#endif
    decode_into(utf8.substr(progress.bytes), out.subspan(progress.units));
}

void decode_code_points(std::string_view utf8, std::span<std::uint32_t> out) {
    decode_into(utf8, out);
}

}  // namespace quillbox
