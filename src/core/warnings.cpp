#include "core/warnings.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace quillbox {
namespace {

void write_stderr_line(std::string_view line) {
    // One write for the whole line, so that lines from several threads do not interleave.
    std::string text(line);
    text += '\n';
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // Nowhere left to report to.
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

void write_warning(std::string_view message) {
    constexpr std::string_view kPrefix = "[quillbox] WARNING: ";
    std::string line;
    line.reserve(kPrefix.size() + message.size());
    line.append(kPrefix).append(message);
    write_stderr_line(line);
}

}  // namespace quillbox
