#pragma once

#include <signal.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "spawn/executor.hpp"

namespace quillbox::testing {

using Entries = std::vector<std::pair<std::string, std::string>>;

inline SecretList secret_list(const Entries& entries) {
    SecretList secrets;
    for (const auto& [name, value] : entries) secrets.push_back({name, SecretBytes(value)});
    return secrets;
}

// Each word as the pipeline hands it over: its bytes and one final NUL.
inline std::vector<SecretBytes> argv_of(const std::vector<std::string>& words) {
    std::vector<SecretBytes> argv;
    for (const std::string& word : words) {
        argv.emplace_back(word);
        argv.back().push_back('\0');
    }
    return argv;
}

// Generous for commands that end at once; a broken wait is still bounded.
inline constexpr RunLimits kDefaultLimits{10, 52428800, 1048576};

inline Result<RunOutcome> run_words(const std::vector<std::string>& words,
                                    const RunLimits& limits = kDefaultLimits,
                                    const Entries& entries = {}, Clock& clock = real_clock()) {
    const Result<Redactor> redactor = build_redactor(secret_list(entries));
    if (!redactor) return fail(redactor.error());
    return execute(ExecutorRequest{argv_of(words), *redactor, limits}, clock);
}

inline Result<RunOutcome> run_shell(const std::string& script,
                                    const RunLimits& limits = kDefaultLimits,
                                    const Entries& entries = {}, Clock& clock = real_clock()) {
    return run_words({"/bin/sh", "-c", script}, limits, entries, clock);
}

// Puts a handler in place for one signal and puts the previous action back.
class ScopedSignalAction {
public:
    ScopedSignalAction(int signal_number, sighandler_t handler) : signal_number_(signal_number) {
        struct sigaction action{};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, &saved_);
    }
    ~ScopedSignalAction() { sigaction(signal_number_, &saved_, nullptr); }
    ScopedSignalAction(const ScopedSignalAction&) = delete;
    ScopedSignalAction& operator=(const ScopedSignalAction&) = delete;

private:
    int signal_number_;
    struct sigaction saved_{};
};

inline sighandler_t current_handler(int signal_number) {
    struct sigaction action{};
    sigaction(signal_number, nullptr, &action);
    return action.sa_handler;
}

// Makes descriptor `target` a copy of `replacement`, or closes it when
// `replacement` is negative, and restores the original on the way out.
class ScopedDescriptor {
public:
    ScopedDescriptor(int target, int replacement) : target_(target), saved_(dup(target)) {
        if (replacement >= 0) {
            dup2(replacement, target);
        } else {
            close(target);
        }
    }
    ~ScopedDescriptor() {
        dup2(saved_, target_);
        close(saved_);
    }
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;

private:
    int target_;
    int saved_;
};

}  // namespace quillbox::testing
