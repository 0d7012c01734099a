#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "core/result.hpp"
#include "core/vault_entry.hpp"
#include "redact/redactor.hpp"

namespace quillbox::python {

// The redactor of one state of a vault's secrets, built once by the first run
// that asks for it, on that run's thread and outside the vault's inner lock,
// so that other operations on the vault go on meanwhile; runs that ask while
// it is being built wait for it. The copies of the secrets it is built from
// are wiped once it is built.
class RedactorBuild {
public:
    RedactorBuild(SecretList entries, SecretList outside)
        : entries_(std::move(entries)), outside_(std::move(outside)) {}
    // A build that is done already.
    explicit RedactorBuild(std::shared_ptr<const Redactor> redactor);

    RedactorBuild(const RedactorBuild&) = delete;
    RedactorBuild& operator=(const RedactorBuild&) = delete;

    // The redactor, built now if no run has built it yet, or the build's error.
    Result<std::shared_ptr<const Redactor>> redactor();

    // Whether the build has ended in an error; a later run then builds anew.
    bool failed() const { return failed_.load(std::memory_order_acquire); }

private:
    void build();

    std::once_flag once_;
    SecretList entries_;
    SecretList outside_;
    std::optional<Result<std::shared_ptr<const Redactor>>> result_;
    std::atomic<bool> failed_{false};
};

}  // namespace quillbox::python
