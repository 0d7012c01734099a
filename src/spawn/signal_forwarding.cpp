#include "spawn/signal_forwarding.hpp"

#include <signal.h>

#include <array>
#include <cerrno>
#include <memory>
#include <mutex>

namespace quillbox {
namespace {

constexpr std::array<int, 3> kForwardedSignals = {SIGINT, SIGTERM, SIGHUP};

static_assert(std::atomic<pid_t>::is_always_lock_free, "the handler needs lock-free slots");

// Slots for the ids of running children, 0 meaning free. Blocks are chained
// and never released while the process runs, so the handler can walk them
// without a lock while members come and go.
struct SlotBlock {
    std::array<std::atomic<pid_t>, 64> slots{};
    std::atomic<SlotBlock*> next{nullptr};
    std::unique_ptr<SlotBlock> next_owner;
};

struct RunningChildren {
    // Serialises joining and leaving, and with them installing and restoring.
    std::mutex membership;
    SlotBlock first_block;
    std::size_t members = 0;
    std::array<struct sigaction, kForwardedSignals.size()> host_actions{};
};

constinit RunningChildren running_children;

std::atomic<pid_t>* claim_slot(pid_t child) {
    SlotBlock* block = &running_children.first_block;
    for (;;) {
        for (auto& slot : block->slots) {
            if (slot.load() == 0) {
                slot.store(child);
                return &slot;
            }
        }
        SlotBlock* next = block->next.load();
        if (next == nullptr) break;
        block = next;
    }
    auto grown = std::make_unique<SlotBlock>();
    grown->slots[0].store(child);
    std::atomic<pid_t>* slot = &grown->slots[0];
    block->next.store(grown.get());
    block->next_owner = std::move(grown);
    return slot;
}

void install_forwarding() {
    struct sigaction forwarding{};
    forwarding.sa_handler = forward_signal;
    sigemptyset(&forwarding.sa_mask);
    forwarding.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) {
        ::sigaction(kForwardedSignals[i], &forwarding, &running_children.host_actions[i]);
    }
}

void restore_host_actions() {
    for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) {
        ::sigaction(kForwardedSignals[i], &running_children.host_actions[i], nullptr);
    }
}

}  // namespace

void forward_signal(int signal_number) {
    const int saved_errno = errno;
    for (const SlotBlock* block = &running_children.first_block; block != nullptr;
         block = block->next.load()) {
        for (const auto& slot : block->slots) {
            const pid_t child = slot.load();
            if (child >= 1) ::kill(child, signal_number);
        }
    }
    errno = saved_errno;
}

SignalForwarding::SignalForwarding(pid_t child) {
    const std::lock_guard lock(running_children.membership);
    // The child is in the set before any handler can look for it.
    slot_ = claim_slot(child);
    if (running_children.members++ == 0) install_forwarding();
}

void SignalForwarding::stop() {
    if (slot_ == nullptr) return;
    const std::lock_guard lock(running_children.membership);
    slot_->store(0);
    slot_ = nullptr;
    if (--running_children.members == 0) restore_host_actions();
}

}  // namespace quillbox
