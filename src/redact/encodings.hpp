#pragma once

#include <cstddef>
#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {

enum class Base64Alphabet { Standard, UrlSafe };
enum class HexCase { Lower, Upper };

// Which bytes a percent-encoder leaves as they are.
enum class PercentKept {
    // ASCII letters and digits only.
    LettersAndDigits,
    // Letters, digits and "-", ".", "_", "~", as most URL encoders write.
    Unreserved,
    // The same and "/", as path encoders write.
    UnreservedAndSlash,
    // Unreserved and "!*'()": JavaScript's encodeURIComponent, jq's @uri.
    UnreservedAndMarks,
    // Unreserved and "$&+:=@": Go's url.PathEscape.
    PathSegment,
    // Unreserved and "$&+,;=": the password of a Go url.URL.
    UserInfo,
    // Unreserved and "$&+,/:;=@": the path of a Go url.URL.
    Path,
    // Letters, digits and "-._" ("~" encoded): PHP's urlencode.
    LettersDigitsAndDashDotUnderscore,
    // Letters, digits and "-._*": Java's URLEncoder.
    LettersDigitsAndDashDotUnderscoreStar,
};

struct PercentStyle {
    PercentKept kept = PercentKept::LettersAndDigits;
    HexCase hex_case = HexCase::Upper;
    // Form encoding writes a space as "+".
    bool space_as_plus = false;

    bool operator==(const PercentStyle&) const = default;
};

// The characters that an HTML-safe JSON encoder writes as \uXXXX so that the
// text can stand inside a <script> element. Each of these also escapes U+2028
// and U+2029, which end a line in JavaScript.
enum class JsonHtmlEscapes {
    None,
    // "<", ">", "&": Go's encoding/json, Rails.
    Tags,
    // The same and "'": script-safe JavaScript serialisers.
    TagsAndApostrophe,
    // The same, "<" and ">" as \u003C and \u003E whatever the case of other
    // escapes: PHP's json_encode with JSON_HEX_TAG | JSON_HEX_AMP |
    // JSON_HEX_APOS.
    PhpTagsAndApostrophe,
    // "<", ">", "&", "=", "'": Gson.
    TagsEqualsAndApostrophe,
};

struct JsonStyle {
    // Every character outside ASCII (and DEL) as \uXXXX, as a surrogate pair
    // beyond the first plane; otherwise such characters stay UTF-8.
    bool ascii_only = true;
    HexCase hex_case = HexCase::Lower;
    // Some encoders write "/" as "\/".
    bool escape_slash = false;
    JsonHtmlEscapes html = JsonHtmlEscapes::None;
};

// How an HTML escaper writes the characters other than "&", "<" and ">",
// which all write as "&amp;", "&lt;" and "&gt;".
enum class HtmlEscaper {
    // Quotes kept: Python's html.escape(quote=False), PHP's ENT_NOQUOTES.
    TextOnly,
    // "&quot;", "'" kept: PHP's htmlspecialchars with ENT_COMPAT.
    DoubleQuoteNamed,
    // "&quot;" and "&#x27;": Python's html.escape, React.
    HexApostrophe,
    // "&quot;" and "&#39;": lodash, Ruby's CGI.escapeHTML, Spring.
    DecimalApostrophe,
    // "&quot;" and "&#039;": PHP's htmlspecialchars with ENT_QUOTES.
    PaddedDecimalApostrophe,
    // "&quot;" and "&apos;": PHP's ENT_QUOTES | ENT_HTML5.
    NamedApostrophe,
    // "&#34;" and "&#39;": Go's html.EscapeString, MarkupSafe (Jinja).
    DecimalQuotes,
    // "&#34;", "&#39;" and "&#43;" for "+": Go's html/template.
    DecimalQuotesAndPlus,
};

// The inside of a quoted shell word, as shells and their tools write it.
enum class ShellQuoting {
    // '...' with "'" as '\'': bash -x, set -x.
    SingleQuoted,
    // '...' with "'" as '"'"': Python's shlex.quote.
    SingleQuotedWithDoubleQuotedApostrophe,
    // A backslash before each character special to the shell: printf %q.
    Backslashed,
    // $'...' with C escapes, every byte outside printable ASCII in octal: what
    // bash -x and printf %q write for a word with such bytes in the C locale.
    AnsiC,
    // The same with UTF-8 characters kept, as in a UTF-8 locale.
    AnsiCUtf8,
};

// Which quotation mark a Python str's repr() stands between: "'", or '"'
// when the text holds "'" and no '"'.
enum class ReprQuote { Single, Double };

// Each appends the encoded form of `bytes` to `out`, so that many forms can
// share one buffer.

// Base64 with "=" padding to a multiple of four characters, in the standard
// ("+", "/") or the URL-safe ("-", "_") alphabet.
void append_base64(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet);

// The Base64 characters that depend on `bytes` alone when they stand
// `group_offset` (0, 1 or 2) bytes into a three-byte group of a longer text:
// what any Base64 text holding these bytes at that alignment holds, whatever
// comes before and after them. No padding.
void append_base64_run(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet,
                       std::size_t group_offset);

// The percent-encoding of a URL's user information, path segment or query
// component that keeps nothing but RFC 3986's unreserved characters, with
// upper-case hex: what `{{url:KEY}}` puts in, and a standard form of every
// value.
inline constexpr PercentStyle kUrlComponent{PercentKept::Unreserved, HexCase::Upper, false};

// Every byte that the style does not keep becomes "%" and two hexadecimal
// digits. The default style keeps ASCII letters and digits only.
void append_percent(SecretBytes& out, std::string_view bytes, PercentStyle style = {});

// How many bytes append_percent writes for `bytes`.
std::size_t percent_encoded_size(std::string_view bytes, PercentStyle style = {});

// Two hexadecimal digits per byte, high nibble first, `separator` (unless NUL)
// between two bytes.
void append_hex(SecretBytes& out, std::string_view bytes, HexCase letter_case,
                char separator = '\0');

// The bytes as the inside of a JSON string: quotation mark, backslash and
// control characters escaped, the latter as \b, \f, \n, \r, \t or \u00XX.
// Bytes that are not UTF-8 are kept as they are.
void append_json_string(SecretBytes& out, std::string_view bytes, JsonStyle style);

// The bytes with "&", "<", ">" and the escaper's others as character
// references.
void append_html_escaped(SecretBytes& out, std::string_view bytes, HtmlEscaper escaper);

// The part of a quoted shell word that the bytes alone make: the quoting
// around it, which depends on the rest of the word, is left out. A "#" or "~"
// that printf %q escapes at the start of a word only is written as it stands
// elsewhere.
void append_shell_quoted(SecretBytes& out, std::string_view bytes, ShellQuoting quoting);

// The inside of a Python str's repr(): backslash and the quotation mark
// escaped, "\t", "\n", "\r", other characters that are not printable as
// \xXX, \uXXXX or \UXXXXXXXX. Bytes that are not UTF-8 are kept as they are.
void append_python_repr(SecretBytes& out, std::string_view bytes, ReprQuote quote);

}  // namespace quillbox
