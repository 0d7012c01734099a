#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "core/secret_bytes.hpp"

namespace quillbox {

// An allocator that overwrites storage with zeros before giving it back, so a
// vector that grows or is destroyed leaves none of its old contents behind.
template <typename T>
    requires std::is_trivially_destructible_v<T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return std::allocator<T>{}.allocate(count); }
    void deallocate(T* storage, std::size_t count) noexcept {
        secure_zero(storage, count * sizeof(T));
        std::allocator<T>{}.deallocate(storage, count);
    }

    friend bool operator==(const WipingAllocator&, const WipingAllocator&) { return true; }
};

template <typename T>
using WipedVector = std::vector<T, WipingAllocator<T>>;

}  // namespace quillbox
