#include "core/utf8_validation_ssse3.hpp"

#include "core/ssse3_support.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace quillbox {
namespace {

// What may be wrong at a byte, given the byte before it. Each table below
// gives, for one nibble, the faults it allows; a fault is there when the high
// and low nibbles of the byte before and the high nibble of the byte itself
// all allow it.
constexpr std::uint8_t kTooShort = 1 << 0;      // a lead or ASCII, then a lead or ASCII
constexpr std::uint8_t kTooLong = 1 << 1;       // ASCII, then a continuation
constexpr std::uint8_t kOverlong3 = 1 << 2;     // 0xE0, then 0x80 to 0x9F
constexpr std::uint8_t kTooLarge = 1 << 3;      // 0xF4 then 0x90 or more, or 0xF5 and up
constexpr std::uint8_t kSurrogate = 1 << 4;     // 0xED, then 0xA0 to 0xBF
constexpr std::uint8_t kOverlong2 = 1 << 5;     // 0xC0 or 0xC1, then a continuation
constexpr std::uint8_t kTooLarge1000 = 1 << 6;  // 0xF5 and up, then 0x80 to 0x8F
constexpr std::uint8_t kOverlong4 = 1 << 6;     // 0xF0, then 0x80 to 0x8F
constexpr std::uint8_t kTwoContinuations = 1 << 7;
// Faults that the high nibble of the byte before decides alone.
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoContinuations;

QUILLBOX_SSSE3_KERNEL __m128i bytes_of(std::initializer_list<std::uint8_t> sixteen) {
    alignas(16) std::uint8_t lanes[16];
    std::memcpy(lanes, sixteen.begin(), 16);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
}

QUILLBOX_SSSE3_KERNEL __m128i high_nibbles(__m128i bytes) {
    return _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
}

QUILLBOX_SSSE3_KERNEL __m128i low_nibbles(__m128i bytes) {
    return _mm_and_si128(bytes, _mm_set1_epi8(0x0F));
}

struct Tables {
    __m128i before_high;
    __m128i before_low;
    __m128i self_high;
    // The largest byte that may end a block at each lane without leaving a
    // sequence unfinished: 0xF0 and up needs three more, 0xE0 two, 0xC0 one.
    __m128i complete_up_to;
};

QUILLBOX_SSSE3_KERNEL Tables make_tables() {
    constexpr std::uint8_t L = kTooLong;
    constexpr std::uint8_t C = kTwoContinuations;
    constexpr std::uint8_t S = kTooShort;
    constexpr std::uint8_t large = kCarry | kTooLarge | kTooLarge1000;
    constexpr std::uint8_t continuation_80 =
        kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge1000 | kOverlong4;
    constexpr std::uint8_t continuation_90 =
        kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge;
    constexpr std::uint8_t continuation_a0 =
        kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge;
    return {
        bytes_of({L, L, L, L, L, L, L, L, C, C, C, C, kTooShort | kOverlong2, kTooShort,
                  kTooShort | kOverlong3 | kSurrogate,
                  kTooShort | kTooLarge | kTooLarge1000 | kOverlong4}),
        bytes_of({kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry,
                  kCarry, kCarry | kTooLarge, large, large, large, large, large, large, large,
                  large, large | kSurrogate, large, large}),
        bytes_of({S, S, S, S, S, S, S, S, continuation_80, continuation_90, continuation_a0,
                  continuation_a0, S, S, S, S}),
        bytes_of({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                  0xEF, 0xDF, 0xBF}),
    };
}

struct Validation {
    __m128i faults = _mm_setzero_si128();
    __m128i previous = _mm_setzero_si128();
    // Where the previous block ended inside a sequence.
    __m128i unfinished = _mm_setzero_si128();
};

QUILLBOX_SSSE3_KERNEL void check_block(const Tables& tables, Validation& state, __m128i block) {
    if (_mm_movemask_epi8(block) == 0) {
        state.faults = _mm_or_si128(state.faults, state.unfinished);
        state.unfinished = _mm_setzero_si128();
        state.previous = block;
        return;
    }
    const __m128i before1 = _mm_alignr_epi8(block, state.previous, 15);
    const __m128i pair_faults =
        _mm_and_si128(_mm_and_si128(_mm_shuffle_epi8(tables.before_high, high_nibbles(before1)),
                                    _mm_shuffle_epi8(tables.before_low, low_nibbles(before1))),
                      _mm_shuffle_epi8(tables.self_high, high_nibbles(block)));
    // The third byte after a lead of 0xE0 and up, and the fourth after one
    // of 0xF0 and up, must be continuations, which pair_faults sees as two
    // continuations in a row: there, that must be its only fault.
    const __m128i before2 = _mm_alignr_epi8(block, state.previous, 14);
    const __m128i before3 = _mm_alignr_epi8(block, state.previous, 13);
    const __m128i third_or_fourth =
        _mm_or_si128(_mm_subs_epu8(before2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80))),
                     _mm_subs_epu8(before3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80))));
    const __m128i must_continue =
        _mm_and_si128(third_or_fourth, _mm_set1_epi8(static_cast<char>(0x80)));
    state.faults = _mm_or_si128(state.faults, _mm_xor_si128(must_continue, pair_faults));
    state.unfinished = _mm_subs_epu8(block, tables.complete_up_to);
    state.previous = block;
}

QUILLBOX_SSSE3_KERNEL __m128i load(const unsigned char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

}  // namespace

QUILLBOX_SSSE3_KERNEL bool is_valid_utf8_ssse3(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    const Tables tables = make_tables();
    Validation state;
    std::size_t offset = 0;
    for (; offset + 64 <= size; offset += 64) {
        const __m128i blocks[4] = {load(bytes + offset), load(bytes + offset + 16),
                                   load(bytes + offset + 32), load(bytes + offset + 48)};
        const __m128i either =
            _mm_or_si128(_mm_or_si128(blocks[0], blocks[1]), _mm_or_si128(blocks[2], blocks[3]));
        if (_mm_movemask_epi8(either) == 0) {
            state.faults = _mm_or_si128(state.faults, state.unfinished);
            state.unfinished = _mm_setzero_si128();
            state.previous = blocks[3];
            continue;
        }
        for (const __m128i& block : blocks) check_block(tables, state, block);
    }
    for (; offset + 16 <= size; offset += 16) check_block(tables, state, load(bytes + offset));
    if (offset < size) {
        // The last bytes, then zeros: ASCII, after which an unfinished
        // sequence is too short.
        alignas(16) unsigned char last[16] = {};
        std::memcpy(last, bytes + offset, size - offset);
        check_block(tables, state, load(last));
    }
    const __m128i faults = _mm_or_si128(state.faults, state.unfinished);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(faults, _mm_setzero_si128())) == 0xFFFF;
}

}  // namespace quillbox

#endif
