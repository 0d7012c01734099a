#pragma once

namespace quillbox {

// Keeps this process's memory, which holds every decrypted secret, to itself:
// asks the kernel, once per process, not to write core dumps and to make the
// process non-dumpable, so that other processes of the same user (the commands
// quillbox runs among them) can neither attach to it with ptrace nor read its
// memory or initial environment through /proc. Root and holders of
// CAP_SYS_PTRACE still can. A refusal is a warning and the caller goes on.
// Later calls do nothing, whatever the first achieved.
void suppress_core_dumps();

}  // namespace quillbox
