#include "spawn/zeroizing_cstring.hpp"

#include "core/internal_error.hpp"

namespace quillbox {

ZeroizingCString::ZeroizingCString(std::string_view bytes) : storage_(std::in_place) {
    storage_->reserve(bytes.size() + 1);
    storage_->append(bytes);
    storage_->push_back('\0');
}

const char* ZeroizingCString::as_ptr() const {
    if (!storage_) throw InternalError("ZeroizingCString already consumed", "src/spawn");
    return reinterpret_cast<const char*>(storage_->data());
}

}  // namespace quillbox
