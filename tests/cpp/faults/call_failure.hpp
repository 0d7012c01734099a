#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace quillbox::testing {

// The system calls that this program's link sends through the interposer: the
// linker's --wrap turns each reference of the layers to one of them into a
// reference to its __wrap_ twin, which counts the call and fails it when told
// to, or else hands it to the real function. Calls made inside the C and C++
// libraries are never seen.
enum class SystemCall : std::uint8_t {
    Open,
    Read,
    Pread,
    Write,
    Pwrite,
    Fsync,
    Ftruncate,
    Rename,
    Unlink,
    Flock,
    Stat,
    Lstat,
    Fstat,
    Mkdir,
    Chmod,
    Fchmod,
    Getentropy,
    Mlock,
    Openat,
    Fstatat,
    Unlinkat,
    Fchmodat,
    Mkdtemp,
    Mmap,
    Pipe2,
    SpawnFileActionsInit,
    SpawnFileActionsAddDup2,
    SpawnFileActionsAddCloseFrom,
    SpawnAttributesInit,
    SpawnAttributesSetFlags,
    SpawnAttributesSetSigDefault,
    Spawn,
    Fcntl,
};
inline constexpr std::size_t kSystemCallCount = static_cast<std::size_t>(SystemCall::Fcntl) + 1;

using SystemCalls = std::bitset<kSystemCallCount>;

std::string_view call_name(SystemCall call);

// Calls that put bytes on storage, which may also fail for want of space.
bool writes_to_storage(SystemCall call);

SystemCalls calls_of(std::initializer_list<SystemCall> calls);

// What the vault store asks of the file system and of the random source.
SystemCalls store_calls();
// What a run's folder of secret files asks of the file system, from its
// making to its removal.
SystemCalls secret_file_folder_calls();
// What starting a child asks for before it exists.
SystemCalls spawn_set_up_calls();

// While it lives, the `n`th call (counted from 1) among `calls` fails with
// `error_number`; every other call goes through. Only one may live at a time.
class FailNthCall {
public:
    FailNthCall(SystemCalls calls, std::uint64_t n, int error_number);
    ~FailNthCall();
    FailNthCall(const FailNthCall&) = delete;
    FailNthCall& operator=(const FailNthCall&) = delete;

    // How many calls among `calls` were seen so far, the failed one included.
    std::uint64_t calls_seen() const;
    // The call that was failed, once the `n`th was reached.
    std::optional<SystemCall> failed_call() const;
};

}  // namespace quillbox::testing
