#include "core/utf8.hpp"

#include <cstdint>
#include <cstring>

#include "core/ssse3_support.hpp"
#include "core/utf8_validation_ssse3.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The end of the run of ASCII bytes that starts at `offset`. Captured output
// is mostly ASCII, so it is skipped 32 bytes at a time.
std::size_t ascii_run_end(std::string_view bytes, std::size_t offset) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    while (offset + 32 <= bytes.size()) {
        std::uint64_t words[4];
        std::memcpy(words, bytes.data() + offset, sizeof words);
        if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) != 0) break;
        offset += 32;
    }
    while (offset < bytes.size() && static_cast<unsigned char>(bytes[offset]) < 0x80) ++offset;
    return offset;
}

// The valid range of the second byte depends on the lead byte; this is what
// rules out overlong forms, surrogates and code points above U+10FFFF.
bool second_byte_in_range(unsigned char lead, unsigned char second) {
    switch (lead) {
        case 0xE0: return second >= 0xA0 && second <= 0xBF;
        case 0xED: return second >= 0x80 && second <= 0x9F;
        case 0xF0: return second >= 0x90 && second <= 0xBF;
        case 0xF4: return second >= 0x80 && second <= 0x8F;
        default: return is_continuation(second);
    }
}

}  // namespace

Utf8Step decode_utf8_step(std::string_view bytes, std::size_t offset) {
    const auto lead = static_cast<unsigned char>(bytes[offset]);
    if (lead < 0x80) return {lead, 1, true};

    std::size_t sequence_length = 0;
    char32_t code_point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        sequence_length = 2;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        sequence_length = 3;
        code_point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        sequence_length = 4;
        code_point = lead & 0x07;
    } else {
        return {0, 1, false};
    }

    std::size_t consumed = 1;
    while (consumed < sequence_length) {
        const std::size_t position = offset + consumed;
        if (position >= bytes.size()) return {0, consumed, false};
        const auto next = static_cast<unsigned char>(bytes[position]);
        const bool in_range =
            consumed == 1 ? second_byte_in_range(lead, next) : is_continuation(next);
        if (!in_range) return {0, consumed, false};
        code_point = (code_point << 6) | (next & 0x3F);
        ++consumed;
    }
    return {code_point, sequence_length, true};
}

bool is_valid_utf8(std::string_view bytes) {
#if defined(__x86_64__)
    if (has_ssse3_kernels()) return is_valid_utf8_ssse3(bytes);
#endif
    std::size_t offset = 0;
    while ((offset = ascii_run_end(bytes, offset)) < bytes.size()) {
        const Utf8Step step = decode_utf8_step(bytes, offset);
        if (!step.valid) return false;
        offset += step.length;
    }
    return true;
}

std::string decode_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        // Copy the run of ASCII and valid sequences in one go; output is mostly that.
        const std::size_t run_start = offset;
        Utf8Step step{0, 0, true};
        while ((offset = ascii_run_end(bytes, offset)) < bytes.size()) {
            step = decode_utf8_step(bytes, offset);
            if (!step.valid) break;
            offset += step.length;
        }
        out.append(bytes.substr(run_start, offset - run_start));
        if (offset < bytes.size()) {
            out.append(kReplacementCharacter);
            offset += step.length;
        }
    }
    return out;
}

void append_utf8(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

}  // namespace quillbox
