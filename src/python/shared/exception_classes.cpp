#include "python/shared/exception_classes.hpp"

#include <array>
#include <cstddef>
#include <string_view>

namespace quillbox::python {
namespace {

struct ExceptionClassText {
    const char* name;
    const char* base;
    const char* doc;
};

#define QUILLBOX_CLASS_TEXT(name, base, doc) {#name, #base, doc},
constexpr std::array<ExceptionClassText, kExceptionClassCount> kTexts{
    {QUILLBOX_EXCEPTION_CLASSES(QUILLBOX_CLASS_TEXT)}};
#undef QUILLBOX_CLASS_TEXT

// The class of that name listed before `before`, if any.
constexpr std::optional<ExceptionClass> class_named(std::string_view name, std::size_t before) {
    for (std::size_t index = 0; index < before; ++index) {
        if (kTexts[index].name == name) return static_cast<ExceptionClass>(index);
    }
    return std::nullopt;
}

constexpr std::optional<ExceptionClass> base_of(std::size_t index) {
    return class_named(kTexts[index].base, index);
}

// A base is Python's Exception or a class listed earlier, so that it exists
// by the time the module registers the classes derived from it.
constexpr bool bases_are_known() {
    for (std::size_t index = 0; index < kTexts.size(); ++index) {
        if (!base_of(index) && std::string_view(kTexts[index].base) != "Exception") return false;
    }
    return true;
}
static_assert(bases_are_known());

const ExceptionClassText& texts_of(ExceptionClass which) {
    return kTexts[static_cast<std::size_t>(which)];
}

}  // namespace

const char* exception_class_name(ExceptionClass which) {
    return texts_of(which).name;
}

const char* exception_class_doc(ExceptionClass which) {
    return texts_of(which).doc;
}

std::optional<ExceptionClass> exception_class_base(ExceptionClass which) {
    return base_of(static_cast<std::size_t>(which));
}

}  // namespace quillbox::python
