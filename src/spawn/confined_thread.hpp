#pragma once

#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "core/result.hpp"
#include "sandbox/landlock.hpp"

namespace quillbox {

// Runs `work` on a thread of its own that first enters `ruleset`, and returns
// what it returned. A sandbox binds a thread and whatever it starts, never its
// process: the calling thread, and every other, stays as free as it was, while
// every process that `work` starts is confined for good.
template <typename Work>
auto on_confined_thread(const LandlockRuleset& ruleset, Work&& work) -> decltype(work()) {
    std::optional<decltype(work())> result;
    try {
        std::thread confined([&] {
            if (Status entered = ruleset.confine_calling_thread(); !entered) {
                result.emplace(fail(std::move(entered.error())));
                return;
            }
            result.emplace(work());
        });
        confined.join();
    } catch (const std::system_error& refused) {
        return fail(errors::OsError{refused.code().value()});
    }
    return std::move(*result);
}

}  // namespace quillbox
