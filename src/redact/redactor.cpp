#include "redact/redactor.hpp"

#include <array>

#include "core/utf8.hpp"
#include "redact/encodings.hpp"

namespace quillbox {
namespace {

struct EncodedForm {
    SecretBytes (*encode)(std::string_view value);
    std::string_view label_suffix;
};

// The encoded forms of a value, in the order their patterns are added after
// the raw value.
const std::array<EncodedForm, 5> kEncodedForms{{
    {[](std::string_view v) { return encode_base64(v, Base64Alphabet::Standard); }, "_B64"},
    {[](std::string_view v) { return encode_base64(v, Base64Alphabet::UrlSafe); }, "_B64URL"},
    {encode_percent, "_URL"},
    {[](std::string_view v) { return encode_hex(v, HexCase::Lower); }, "_HEX"},
    {[](std::string_view v) { return encode_hex(v, HexCase::Upper); }, "_HEX"},
}};

std::string label_for(std::string_view name, std::string_view suffix) {
    std::string label = "[REDACTED_";
    label.append(name).append(suffix).push_back(']');
    return label;
}

}  // namespace

Result<Redactor> build_redactor(const SecretList& secrets) {
    return build_redactor(secrets, {});
}

Result<Redactor> build_redactor(const SecretList& secrets, const AhoCorasickOptions& options) {
    std::vector<SecretBytes> patterns;
    std::vector<std::string> labels;
    patterns.reserve(secrets.size() * (kEncodedForms.size() + 1));
    labels.reserve(secrets.size() * (kEncodedForms.size() + 1));
    for (const VaultEntry& entry : secrets) {
        const std::string_view raw = entry.value.view();
        if (raw.empty()) continue;
        patterns.push_back(entry.value.clone());
        labels.push_back(label_for(entry.name, ""));
        for (const EncodedForm& form : kEncodedForms) {
            SecretBytes encoded = form.encode(raw);
            // A form is compared with the raw value only, so identical forms
            // of one value are each added with their own label.
            if (encoded.view() == raw) continue;
            patterns.push_back(std::move(encoded));
            labels.push_back(label_for(entry.name, form.label_suffix));
        }
    }
    if (patterns.empty()) return Redactor({}, std::nullopt);

    std::vector<std::string_view> views;
    views.reserve(patterns.size());
    for (const SecretBytes& pattern : patterns) views.push_back(pattern.view());
    auto matcher = AhoCorasick::build(views, options);
    if (!matcher) return fail(errors::AutomatonBuildFailed{std::move(matcher.error())});
    return Redactor(std::move(labels), std::move(*matcher));
}

std::string Redactor::redact(std::string_view text) const {
    if (!matcher_) return decode_utf8_lossy(text);
    std::string out;
    out.reserve(text.size());
    std::size_t offset = 0;
    while (const auto match = matcher_->find(text, offset)) {
        out.append(text.substr(offset, match->start - offset));
        out.append(labels_[match->pattern]);
        offset = match->end;
    }
    out.append(text.substr(offset));
    // Output is nearly always valid already; checking is cheaper than copying.
    if (is_valid_utf8(out)) return out;
    return decode_utf8_lossy(out);
}

}  // namespace quillbox
