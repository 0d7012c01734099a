#pragma once

namespace quillbox {

// Asks the kernel, once per process, not to write core dumps (which would hold
// every decrypted secret). Later calls do nothing, whatever the first achieved.
void suppress_core_dumps();

}  // namespace quillbox
