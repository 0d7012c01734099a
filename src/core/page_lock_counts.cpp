#include "core/page_lock_counts.hpp"

namespace quillbox {

void PageLockCounts::add(std::uintptr_t address, std::size_t length) {
    if (length == 0) return;
    const std::uintptr_t end = address + length;
    for (std::uintptr_t page = address / page_size_ * page_size_; page < end; page += page_size_) {
        ++counts_[page];
    }
}

std::vector<PageRun> PageLockCounts::remove(std::uintptr_t address, std::size_t length) {
    std::vector<PageRun> freed;
    if (length == 0) return freed;
    const std::uintptr_t end = address + length;
    for (std::uintptr_t page = address / page_size_ * page_size_; page < end; page += page_size_) {
        const auto found = counts_.find(page);
        if (found == counts_.end() || --found->second != 0) continue;
        counts_.erase(found);
        if (!freed.empty() && freed.back().first + freed.back().count * page_size_ == page) {
            ++freed.back().count;
        } else {
            freed.push_back({page, 1});
        }
    }
    return freed;
}

}  // namespace quillbox
