#include "vault/random_source.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstddef>

namespace quillbox {

Status fill_random(std::span<unsigned char> buffer) {
    // getentropy hands out at most 256 bytes per call.
    constexpr std::size_t max_per_call = 256;
    for (std::size_t done = 0; done < buffer.size();) {
        const std::size_t chunk = std::min(max_per_call, buffer.size() - done);
        if (getentropy(buffer.data() + done, chunk) != 0) {
            return fail(errors::IoMessage{"RNG fill failed"});
        }
        done += chunk;
    }
    return {};
}

}  // namespace quillbox
