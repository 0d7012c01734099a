#pragma once

#include "core/clock.hpp"
#include "core/secret_bytes.hpp"
#include "redact/redactor.hpp"
#include "spawn/deadline.hpp"
#include "spawn/destination.hpp"
#include "spawn/wake_event.hpp"

namespace quillbox {

// Passes one of the child's streams on to a destination descriptor as it
// arrives, redacted and undecoded. Bytes that may still turn out to be part
// of a secret form stay behind until the next bytes, or the stream's end,
// settle them, so that no part of a secret is ever passed on; joined, what
// is passed on is the redaction of the whole stream.
//
// The destination is the caller's and stays as it is (no flag of it is
// changed): each write takes what the destination has room for, and the rest
// waits until it has more, so a slow reader of it slows the child down
// rather than filling memory, and no write ever waits for room where a stop
// could not end the wait. A write it refuses, a reader gone included, ends
// the passing on.
class LiveOutput {
public:
    LiveOutput(int destination, const Redactor& redactor)
        : destination_(destination), redactor_(redactor) {}

    // Passes on the settled start of `pending` and leaves in it only the
    // rest. False when the destination refuses a write, or when `stop` is
    // raised while it has no room. The calling thread holds SIGPIPE
    // (BrokenPipeSignalHeld), as a stream's reader does for its whole life.
    bool pass_settled(SecretBytes& pending, const WakeEvent& stop);

    // Passes on all of `pending`, whose stream has ended as `end` says,
    // redacted until `watch` gives up, waiting for room until `deadline` at
    // most, and wipes it.
    void pass_rest(SecretBytes& pending, TextEnd end, Deadline deadline, Clock& clock,
                   RedactionWatch& watch);

private:
    Destination destination_;
    const Redactor& redactor_;
    // What is to be written next; it may hold the bytes around a label.
    SecretBytes redacted_;
    bool refused_ = false;
};

}  // namespace quillbox
