#pragma once

#include <signal.h>
#include <spawn.h>

#include "core/result.hpp"

namespace quillbox {

// The objects that posix_spawnp reads its settings from, each released with
// its owner. Every call that fills one in reports its failure as an OsError:
// a child started with a setting missing would write to the host's own
// streams, or hold descriptors it was never meant to see.

class SpawnFileActions {
public:
    SpawnFileActions();
    ~SpawnFileActions();
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;

    // Whether the object could be made at all; nothing else may be called if not.
    [[nodiscard]] Status made() const;
    // In the child, in the order added: `from` duplicated onto `onto` (onto
    // itself, it just loses close-on-exec), `fd` closed if it is open, every
    // descriptor from `lowest` up closed.
    [[nodiscard]] Status duplicate(int from, int onto);
    [[nodiscard]] Status close(int fd);
    [[nodiscard]] Status close_from(int lowest);

    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    int init_error_;
};

class SpawnAttributes {
public:
    SpawnAttributes();
    ~SpawnAttributes();
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    [[nodiscard]] Status made() const;
    // The child starts with these signals at their default actions, even
    // where the host ignores them.
    [[nodiscard]] Status set_default_actions(const sigset_t& signals);

    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
    int init_error_;
};

}  // namespace quillbox
