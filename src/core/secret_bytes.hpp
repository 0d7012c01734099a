#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace quillbox {

// Overwrites memory with zeros in a way the compiler may not remove.
void secure_zero(void* data, std::size_t size);

// The one owned, growable buffer for bytes that are or may hold a secret:
// vault values, the passphrase, argument strings, the matcher's patterns and
// the captured output of a child.
//
// Storage goes back to the allocator only after it is wiped: on release, and
// when growing moves the bytes. A wipe zeros every byte the buffer may have
// written, which is the whole allocation unless room was reserved and never
// used: a large reservation is not touched, page by page, only to be freed. A buffer may also be
// locked into memory, which keeps every allocation it has from then on out of swap. Release runs in
// one order: wipe the bytes in use, wipe the whole allocation, unlock, free.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::string_view bytes);
    explicit SecretBytes(std::span<const unsigned char> bytes);
    ~SecretBytes();

    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    // Copies of secrets are made on purpose only.
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes clone() const { return SecretBytes(view()); }

    // Locks the allocation into memory, and every later one as the buffer
    // grows. A refusal is a warning; the buffer then stays as it was, unlocked,
    // and the result is false. An empty buffer is locked without a system call.
    bool lock_into_memory();
    bool locked_into_memory() const { return locked_; }

    void append(std::string_view bytes);
    void push_back(unsigned char byte);
    void reserve(std::size_t capacity);
    // Grows with zero bytes, or shrinks after zeroing the bytes given up.
    void resize(std::size_t size);
    // Removes the first `count` bytes; those that move down to the front
    // leave no copy behind.
    void drop_front(std::size_t count);

    // Room for at least `count` bytes after those in use, for a writer such as
    // read(2) to fill; commit_appended then takes the first bytes it wrote
    // into use. Bytes written there but never committed are wiped with the
    // rest of the allocation.
    std::span<unsigned char> room_to_append(std::size_t count);
    void commit_appended(std::size_t count);

    // Zeros the bytes in use, empties the buffer, then zeros every byte of the
    // allocation that may have been written.
    void wipe();

    // Keeps the first `offset` bytes. The rest are wiped and, unless the
    // buffer is locked into memory, the whole pages they held go back to the
    // system at once; the allocation stays until release.
    void release_from(std::size_t offset);

    const unsigned char* data() const { return data_; }
    unsigned char* data() { return data_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {reinterpret_cast<const char*>(data_), size_}; }
    std::span<const unsigned char> bytes() const { return {data_, size_}; }

private:
    void release();

    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    // The bytes from the start that may have been written, in use or not.
    std::size_t written_ = 0;
    bool locked_ = false;
};

}  // namespace quillbox
