#pragma once

#include <cstddef>

namespace quillbox::testing {

// Watches one heap block: when it is handed back to the allocator, records
// whether every byte of it was zero at that moment. The test binary replaces
// the global allocation functions to make this possible.
class ReleaseWatch {
public:
    explicit ReleaseWatch(const void* block);
    ~ReleaseWatch();
    ReleaseWatch(const ReleaseWatch&) = delete;
    ReleaseWatch& operator=(const ReleaseWatch&) = delete;

    bool released() const;
    bool was_zero_when_released() const;
    std::size_t released_size() const;
};

}  // namespace quillbox::testing
