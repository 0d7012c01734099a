#pragma once

#include <expected>

#include "core/error.hpp"

namespace quillbox {

// Every fallible operation returns its value or exactly one CoreError.
template <typename T>
using Result = std::expected<T, CoreError>;

using Status = std::expected<void, CoreError>;

inline std::unexpected<CoreError> fail(CoreError error) {
    return std::unexpected(std::move(error));
}

}  // namespace quillbox
