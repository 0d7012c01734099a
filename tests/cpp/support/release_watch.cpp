#include "support/release_watch.hpp"

#include <cstdlib>
#include <new>

namespace {

struct WatchState {
    const void* block = nullptr;
    bool released = false;
    bool zero = false;
    std::size_t size = 0;
};

WatchState watch;

void inspect_before_release(void* block, std::size_t size) {
    if (block == nullptr || block != watch.block) return;
    const auto* bytes = static_cast<const unsigned char*>(block);
    bool zero = true;
    for (std::size_t i = 0; i < size; ++i) zero = zero && bytes[i] == 0;
    watch.released = true;
    watch.zero = zero;
    watch.size = size;
    watch.block = nullptr;
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}

// Replaced too, so that every form of new takes what the deletes give back.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void operator delete(void* block) noexcept {
    if (block != nullptr && block == watch.block) watch.block = nullptr;  // size unknown
    std::free(block);
}

void operator delete(void* block, std::size_t size) noexcept {
    inspect_before_release(block, size);
    std::free(block);
}

namespace quillbox::testing {

ReleaseWatch::ReleaseWatch(const void* block) {
    watch = WatchState{block, false, false, 0};
}
ReleaseWatch::~ReleaseWatch() {
    watch = WatchState{};
}
bool ReleaseWatch::released() const {
    return watch.released;
}
bool ReleaseWatch::was_zero_when_released() const {
    return watch.zero;
}
std::size_t ReleaseWatch::released_size() const {
    return watch.size;
}

}  // namespace quillbox::testing
