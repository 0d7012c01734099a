#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace quillbox {

// Overwrites memory with zeros in a way the compiler may not remove.
void secure_zero(void* data, std::size_t size);

// An owned, growable byte buffer for secret material. Before its storage goes
// back to the allocator (on release, or when growing moves it) the bytes in
// use and then the whole allocation are overwritten with zeros.
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

    void append(std::string_view bytes);
    void push_back(unsigned char byte);
    void reserve(std::size_t capacity);
    // Grows with zero bytes, or shrinks after zeroing the bytes given up.
    void resize(std::size_t size);

    // Zeros the bytes in use, empties the buffer, then zeros the whole allocation.
    void wipe();

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
};

}  // namespace quillbox
