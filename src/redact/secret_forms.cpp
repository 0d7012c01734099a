#include "redact/secret_forms.hpp"

#include <vector>

#include "core/internal_error.hpp"

namespace quillbox {
namespace {

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

std::string_view base64_suffix(Base64Alphabet alphabet) {
    return alphabet == Base64Alphabet::Standard ? "_B64" : "_B64URL";
}

// The value itself, the standard forms, then the forms real encoders write: a
// value inside any Base64 text (HTTP Basic credentials, a value with its line
// feed, unpadded and JWT-style text), percent-encoding as URL and form
// encoders of many languages write it, the inside of a JSON string (HTML-safe
// too), HTML character references, and the inside of a quoted shell word or
// of a Python string's repr().
std::vector<SecretForm> make_secret_forms() {
    std::vector<SecretForm> forms = {
        {Raw{}, "", true},
        {PaddedBase64{Base64Alphabet::Standard}, "_B64", false},
        {PaddedBase64{Base64Alphabet::UrlSafe}, "_B64URL", false},
        {PercentStyle{}, "_URL", true},
        {kUrlComponent, "_URL", true},
        {Hex{HexCase::Lower}, "_HEX", false},
        {Hex{HexCase::Upper}, "_HEX", false},
    };
    for (const std::size_t group_offset : {0, 1, 2}) {
        for (const Base64Alphabet alphabet : {Base64Alphabet::Standard, Base64Alphabet::UrlSafe}) {
            forms.push_back({Base64Run{alphabet, group_offset}, base64_suffix(alphabet), false});
        }
    }
    // Each style but the URL component's, which the standard forms hold.
    const auto add_percent = [&](std::initializer_list<PercentKept> kept_sets) {
        for (const PercentKept kept : kept_sets) {
            for (const bool space_as_plus : {false, true}) {
                for (const HexCase hex_case : {HexCase::Upper, HexCase::Lower}) {
                    const PercentStyle style{kept, hex_case, space_as_plus};
                    if (style != kUrlComponent) forms.push_back({style, "_URL", true});
                }
            }
        }
    };
    const auto add_json = [&](JsonHtmlEscapes html) {
        for (const bool ascii_only : {true, false}) {
            for (const HexCase hex_case : {HexCase::Lower, HexCase::Upper}) {
                for (const bool escape_slash : {false, true}) {
                    forms.push_back(
                        {JsonStyle{ascii_only, hex_case, escape_slash, html}, "_JSON", true});
                }
            }
        }
    };
    add_percent(
        {PercentKept::LettersAndDigits, PercentKept::Unreserved, PercentKept::UnreservedAndSlash});
    add_json(JsonHtmlEscapes::None);
    add_percent({PercentKept::UnreservedAndMarks, PercentKept::PathSegment, PercentKept::UserInfo,
                 PercentKept::Path, PercentKept::LettersDigitsAndDashDotUnderscore,
                 PercentKept::LettersDigitsAndDashDotUnderscoreStar});
    for (const JsonHtmlEscapes html :
         {JsonHtmlEscapes::Tags, JsonHtmlEscapes::TagsAndApostrophe,
          JsonHtmlEscapes::PhpTagsAndApostrophe, JsonHtmlEscapes::TagsEqualsAndApostrophe}) {
        add_json(html);
    }
    for (const HtmlEscaper escaper :
         {HtmlEscaper::TextOnly, HtmlEscaper::DoubleQuoteNamed, HtmlEscaper::HexApostrophe,
          HtmlEscaper::DecimalApostrophe, HtmlEscaper::PaddedDecimalApostrophe,
          HtmlEscaper::NamedApostrophe, HtmlEscaper::DecimalQuotes,
          HtmlEscaper::DecimalQuotesAndPlus}) {
        forms.push_back({escaper, "_HTML", true});
    }
    for (const ShellQuoting quoting :
         {ShellQuoting::SingleQuoted, ShellQuoting::SingleQuotedWithDoubleQuotedApostrophe,
          ShellQuoting::Backslashed, ShellQuoting::AnsiC, ShellQuoting::AnsiCUtf8}) {
        forms.push_back({quoting, "_SHELL", true});
    }
    for (const ReprQuote quote : {ReprQuote::Single, ReprQuote::Double}) {
        forms.push_back({quote, "_REPR", true});
    }
    for (const HexCase hex_case : {HexCase::Lower, HexCase::Upper}) {
        forms.push_back({Hex{hex_case, ':'}, "_HEX", false});
    }
    if (forms.size() > kMaxSecretForms) {
        throw InternalError("more secret forms than a form set holds", "src/redact");
    }
    return forms;
}

}  // namespace

std::span<const SecretForm> secret_forms() {
    static const std::vector<SecretForm> forms = make_secret_forms();
    return forms;
}

void append_form(SecretBytes& out, std::string_view value, const Encoding& encoding) {
    std::visit(
        Overloaded{
            [&](const Raw&) { out.append(value); },
            [&](const PaddedBase64& form) { append_base64(out, value, form.alphabet); },
            [&](const Base64Run& form) {
                append_base64_run(out, value, form.alphabet, form.group_offset);
            },
            [&](const PercentStyle& style) { append_percent(out, value, style); },
            [&](const Hex& form) { append_hex(out, value, form.letter_case, form.separator); },
            [&](const JsonStyle& style) { append_json_string(out, value, style); },
            [&](HtmlEscaper escaper) { append_html_escaped(out, value, escaper); },
            [&](ShellQuoting quoting) { append_shell_quoted(out, value, quoting); },
            [&](ReprQuote quote) { append_python_repr(out, value, quote); },
        },
        encoding);
}

}  // namespace quillbox
