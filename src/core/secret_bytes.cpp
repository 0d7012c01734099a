#include "core/secret_bytes.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/memory_lock.hpp"
#include "core/page_advice.hpp"

namespace quillbox {
namespace {

// Past its first 2 MiB, a large allocation asks for huge pages: a buffer
// reserved for megabytes, such as a child's output, then fills with one page
// fault for each 2 MiB it takes into use, where it would take 512. Its first
// 2 MiB, where most buffers stay, keep small pages, so that a few bytes never
// cost a huge page.
constexpr std::size_t kSmallPagesPart = std::size_t{2} << 20;

void ask_for_huge_pages(unsigned char* allocation, std::size_t capacity) {
    if (capacity > 2 * kSmallPagesPart) {
        advise_huge_pages(allocation + kSmallPagesPart, capacity - kSmallPagesPart);
    }
}

}  // namespace

void secure_zero(void* data, std::size_t size) {
    if (size != 0) explicit_bzero(data, size);
}

SecretBytes::SecretBytes(std::string_view bytes) {
    append(bytes);
}

SecretBytes::SecretBytes(std::span<const unsigned char> bytes)
    : SecretBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) {}

SecretBytes::~SecretBytes() {
    release();
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      written_(std::exchange(other.written_, 0)),
      locked_(std::exchange(other.locked_, false)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        written_ = std::exchange(other.written_, 0);
        locked_ = std::exchange(other.locked_, false);
    }
    return *this;
}

bool SecretBytes::lock_into_memory() {
    if (locked_) return true;
    locked_ = lock_memory(data_, capacity_);
    return locked_;
}

void SecretBytes::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    auto* grown = static_cast<unsigned char*>(::operator new(capacity));
    ask_for_huge_pages(grown, capacity);
    // The new allocation is locked before any secret byte reaches it.
    const bool grown_locked = locked_ && lock_memory(grown, capacity);
    if (size_ != 0) std::memcpy(grown, data_, size_);
    const std::size_t kept = size_;
    release();
    data_ = grown;
    size_ = kept;
    capacity_ = capacity;
    written_ = kept;
    locked_ = grown_locked;
}

void SecretBytes::resize(std::size_t size) {
    if (size > size_) {
        reserve(std::max(size, capacity_));
        std::memset(data_ + size_, 0, size - size_);
        written_ = std::max(written_, size);
    } else {
        secure_zero(data_ + size, size_ - size);
    }
    size_ = size;
}

void SecretBytes::drop_front(std::size_t count) {
    if (count == 0) return;
    const std::size_t kept = size_ - count;
    std::memmove(data_, data_ + count, kept);
    resize(kept);
}

std::span<unsigned char> SecretBytes::room_to_append(std::size_t count) {
    if (count > capacity_ - size_) reserve(std::max(size_ + count, capacity_ * 2));
    written_ = std::max(written_, size_ + count);
    return {data_ + size_, count};
}

void SecretBytes::commit_appended(std::size_t count) {
    size_ += std::min(count, capacity_ - size_);
}

void SecretBytes::append(std::string_view bytes) {
    if (bytes.empty()) return;
    const std::span<unsigned char> room = room_to_append(bytes.size());
    std::memcpy(room.data(), bytes.data(), bytes.size());
    commit_appended(bytes.size());
}

void SecretBytes::push_back(unsigned char byte) {
    const char as_char = static_cast<char>(byte);
    append(std::string_view(&as_char, 1));
}

void SecretBytes::wipe() {
    if (capacity_ == 0) return;
    secure_zero(data_, size_);
    size_ = 0;
    secure_zero(data_, written_);
    written_ = 0;
}

void SecretBytes::release_from(std::size_t offset) {
    if (offset >= written_) return;
    secure_zero(data_ + offset, written_ - offset);
    size_ = std::min(size_, offset);
    written_ = offset;
    if (!locked_) advise_whole_pages(data_ + offset, capacity_ - offset, PageAdvice::GiveBackNow);
}

void SecretBytes::release() {
    if (data_ == nullptr) return;
    wipe();
    if (locked_) unlock_memory(data_, capacity_);
    ::operator delete(data_, capacity_);
    data_ = nullptr;
    capacity_ = 0;
    written_ = 0;
    locked_ = false;
}

}  // namespace quillbox
