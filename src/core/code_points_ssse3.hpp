#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quillbox {

// How far a kernel got: the bytes it took, and the units it wrote for them.
// The bytes after it may begin with continuation bytes of the last code point
// it wrote.
struct DecodeProgress {
    std::size_t bytes;
    std::size_t units;
};

// decode_code_points, sixteen bytes at a time, for as long as a block and
// the two bytes after it lie in the text and sixteen units fit in `out`: each
// byte that is not a continuation byte is made into its code point from the
// bytes after it, all lanes at once, and the continuation bytes' lanes are
// then packed out. The rest is left to the caller. Only where
// has_ssse3_kernels().
//
// Latin-1 units take ASCII and the two-byte sequences of U+0080 to U+00FF.
DecodeProgress decode_latin1_ssse3(std::string_view utf8, std::span<std::uint8_t> out);
// Two-byte units take ASCII and the sequences of two and three bytes; a block
// that starts with five code points of three bytes, as CJK text runs, takes
// those five alone, by one fixed shuffle.
DecodeProgress decode_bmp_ssse3(std::string_view utf8, std::span<std::uint16_t> out);

}  // namespace quillbox
