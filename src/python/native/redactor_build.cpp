#include "python/native/redactor_build.hpp"

#include <utility>

namespace quillbox::python {

RedactorBuild::RedactorBuild(std::shared_ptr<const Redactor> redactor)
    : result_(std::move(redactor)) {}

void RedactorBuild::build() {
    Result<Redactor> built = build_redactor(entries_, outside_);
    SecretList().swap(entries_);
    SecretList().swap(outside_);
    if (!built) {
        result_.emplace(fail(std::move(built.error())));
        failed_.store(true, std::memory_order_release);
        return;
    }
    result_.emplace(std::make_shared<const Redactor>(std::move(*built)));
}

Result<std::shared_ptr<const Redactor>> RedactorBuild::redactor() {
    std::call_once(once_, [this] {
        if (!result_) build();
    });
    return *result_;
}

}  // namespace quillbox::python
