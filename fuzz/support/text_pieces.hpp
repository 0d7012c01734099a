#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <span>
#include <string>

namespace quillbox::fuzzing {

// A text made of pieces of the given patterns (whole, or cut short so that a
// match almost happens) and of stray bytes, so that matches, near misses and
// overlaps are common however the fuzzer draws.
inline std::string text_from_pieces(FuzzedDataProvider& input,
                                    std::span<const std::string> patterns) {
    std::string text;
    while (input.remaining_bytes() > 0) {
        const auto choice = input.ConsumeIntegral<std::uint8_t>();
        if (!patterns.empty() && (choice & 1) != 0) {
            const std::string& pattern = patterns[(choice >> 1) % patterns.size()];
            const bool whole = (choice & 0x80) == 0;
            text += whole ? pattern
                          : pattern.substr(
                                0, input.ConsumeIntegralInRange<std::size_t>(0, pattern.size()));
        } else {
            text += input.ConsumeRandomLengthString(8);
        }
    }
    return text;
}

}  // namespace quillbox::fuzzing
