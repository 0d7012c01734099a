#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace quillbox {

// A run of whole pages: [first, first + count * page_size).
struct PageRun {
    std::uintptr_t first;
    std::size_t count;

    friend bool operator==(const PageRun&, const PageRun&) = default;
};

// How many locked ranges touch each page. mlock and munlock act on whole
// pages and the kernel keeps no count, so two small buffers on one page share
// its lock: the page may be unlocked only when the last range on it goes.
//
//     page:     |    p0    |    p1    |    p2    |
//     range A:     [=======]                         p0: 2, p1: 1
//     range B:        [==========]                   B goes: p0 stays locked
class PageLockCounts {
public:
    explicit PageLockCounts(std::size_t page_size) : page_size_(page_size) {}

    // Counts one more locked range over [address, address + length).
    void add(std::uintptr_t address, std::size_t length);

    // Counts one range fewer, and returns the runs of pages that no range
    // touches any more, in address order. Only a range that was added may be
    // removed.
    std::vector<PageRun> remove(std::uintptr_t address, std::size_t length);

    std::size_t page_size() const { return page_size_; }

private:
    std::size_t page_size_;
    std::unordered_map<std::uintptr_t, std::uint32_t> counts_;
};

}  // namespace quillbox
