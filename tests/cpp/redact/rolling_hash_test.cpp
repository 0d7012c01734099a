#include "redact/rolling_hash.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quillbox {
namespace {

// The hash of a range from the prefix hashes is the hash of its bytes, at
// every start and end around the strides, and stays so once the bytes before
// the range are overwritten, as a redaction within the text's buffer does.
TEST(PrefixHashes, HashEveryRangeAsItsBytesAloneEvenOnceTheBytesBeforeItChange) {
    const RangeHasher hasher = RangeHasher::drawn();
    std::string text;
    for (int index = 0; index < 5 * static_cast<int>(PrefixHashes::kStride); ++index) {
        text += static_cast<char>('a' + (index * 7) % 23);
    }
    PrefixHashes prefixes;
    prefixes.cover(hasher, text, text.size());
    for (std::size_t start = 0; start <= text.size(); ++start) {
        std::string overwritten = text;
        overwritten.replace(0, start, start, '#');
        for (std::size_t end = start; end <= text.size(); ++end) {
            const std::string_view range = std::string_view(text).substr(start, end - start);
            ASSERT_EQ(prefixes.range(hasher, overwritten, start, end), hasher.of(range))
                << start << " to " << end;
        }
    }
    // Different bytes of one length hash apart.
    EXPECT_NE(hasher.of("ab"), hasher.of("ba"));
    EXPECT_NE(hasher.of(std::string(1, '\0')), hasher.of(std::string(2, '\0')));
}

}  // namespace
}  // namespace quillbox
