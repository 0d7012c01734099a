#pragma once

namespace quillbox::testing {

// Whether this program carries AddressSanitizer, which turns mlock into a call
// that does nothing and always succeeds. GCC and clang say so differently.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitized = true;
#else
inline constexpr bool kAddressSanitized = false;
#endif
#else
inline constexpr bool kAddressSanitized = false;
#endif

}  // namespace quillbox::testing
