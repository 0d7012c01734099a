#include "tokenizer/near_names.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quillbox {
namespace {

char folded(char character) {
    return character >= 'a' && character <= 'z' ? static_cast<char>(character - 'a' + 'A')
                                                : character;
}

// The number of single-character edits, neighbours swapped counting as one,
// that turn one name into the other, letter case aside; anything above
// `limit` is reported as limit + 1.
std::size_t edits_between(std::string_view a, std::string_view b, std::size_t limit) {
    const std::size_t beyond = limit + 1;
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return beyond;
    // Three rows of the table: for the prefixes of `a` two and one shorter
    // than the current one.
    std::vector<std::size_t> before_previous(b.size() + 1);
    std::vector<std::size_t> previous(b.size() + 1);
    std::vector<std::size_t> current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const bool same = folded(a[i - 1]) == folded(b[j - 1]);
            current[j] =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && folded(a[i - 1]) == folded(b[j - 2]) &&
                folded(a[i - 2]) == folded(b[j - 1])) {
                current[j] = std::min(current[j], before_previous[j - 2] + 1);
            }
        }
        std::swap(before_previous, previous);
        std::swap(previous, current);
    }
    return std::min(previous[b.size()], beyond);
}

}  // namespace

bool near_an_entry_name(std::string_view key, const VaultEntries& entries) {
    const std::size_t limit = std::max<std::size_t>(1, key.size() / 3);
    return std::ranges::any_of(entries, [&](const VaultEntry& entry) {
        return edits_between(key, entry.name, limit) <= limit;
    });
}

}  // namespace quillbox
