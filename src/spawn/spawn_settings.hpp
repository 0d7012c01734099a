#pragma once

#include <signal.h>
#include <spawn.h>

#include "core/result.hpp"

namespace quillbox {

// The objects that posix_spawnp reads its settings from, each released with
// its owner. Every call that fills one in reports its failure as an OsError:
// a child started with a setting missing would write to the host's own
// streams, or hold descriptors it was never meant to see.

// A posix_spawn set-up call's returned error number as a Status.
Status checked_spawn_call(int error_number);

// Owns one settings object, made by `init` and released by `destroy`.
template <typename Object, int (*init)(Object*), int (*destroy)(Object*)>
class SpawnSetting {
public:
    SpawnSetting() : init_error_(init(&object_)) {}
    ~SpawnSetting() {
        if (init_error_ == 0) destroy(&object_);
    }
    SpawnSetting(const SpawnSetting&) = delete;
    SpawnSetting& operator=(const SpawnSetting&) = delete;

    // Whether the object could be made at all; nothing else may be called if not.
    [[nodiscard]] Status made() const { return checked_spawn_call(init_error_); }

    const Object* get() const { return &object_; }

protected:
    Object* object() { return &object_; }

private:
    Object object_;
    int init_error_;
};

class SpawnFileActions
    : public SpawnSetting<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                          posix_spawn_file_actions_destroy> {
public:
    // In the child, in the order added: `from` duplicated onto `onto`, every
    // descriptor from `lowest` up closed, the working directory changed.
    [[nodiscard]] Status duplicate(int from, int onto);
    [[nodiscard]] Status close_from(int lowest);
    // The child's working directory becomes the one `directory_fd` is open on.
    [[nodiscard]] Status change_directory(int directory_fd);
};

class SpawnAttributes
    : public SpawnSetting<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy> {
public:
    // The child starts with these signals at their default actions, even
    // where the host ignores them.
    [[nodiscard]] Status set_default_actions(const sigset_t& signals);
};

}  // namespace quillbox
