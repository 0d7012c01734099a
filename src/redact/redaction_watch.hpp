#pragma once

#include <string_view>

#include "core/clock.hpp"

namespace quillbox {

// When a redaction gives up: a deadline on a clock, looked at every so often
// as the search goes on. A redaction that gives up keeps what it has redacted
// and drops the rest of the text, so that no byte leaves unsearched.
class RedactionWatch {
public:
    // A watch that never gives up.
    RedactionWatch() = default;
    RedactionWatch(const Clock& clock, MonotonicTime deadline)
        : clock_(&clock), deadline_(deadline) {}

    // Whether the redaction is to give up now; once it is, it stays so.
    bool gives_up();
    bool gave_up() const { return gave_up_; }

private:
    // A look at the clock costs about as much as searching a few hundred
    // bytes, so it is taken once in this many steps of the search.
    static constexpr unsigned kStepsPerLook = 64;

    const Clock* clock_ = nullptr;
    MonotonicTime deadline_{};
    unsigned steps_ = 0;
    bool gave_up_ = false;
};

// What stands in a text for the part dropped when its redaction gave up.
inline constexpr std::string_view kDroppedOutputMarker =
    "[quillbox: the rest of this output was dropped: its redaction did not finish within the "
    "timeout]\n";

}  // namespace quillbox
