#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "redact/long_patterns.hpp"
#include "redact/pattern_matcher.hpp"
#include "redact/redaction_watch.hpp"
#include "redact/text_end.hpp"

namespace quillbox {

// The matcher holds no head longer than this. At each start where a head may
// begin, the search compares at most a head's bytes, and a text that repeats
// a head's period (a run of one byte against a value that begins with one)
// holds it at every start: so a head's length bounds what the search reads
// per byte of text. It holds every form of a token of up to 42 bytes whole
// (hex with colons writes three characters a byte); the rest of a longer
// pattern is checked in a time that does not depend on its length (see
// LongPatterns).
inline constexpr std::size_t kMatcherHeadBytes = 128;

// Below this many bytes, the start of a secret left at the end of a cut text
// tells too little of it to be worth a label.
inline constexpr std::size_t kMinCutSecretBytes = 4;

// A text with every secret form replaced by its label, decoded as UTF-8; only
// a Redactor makes one. Its bytes are public, but they stay in the buffer that
// the secret-bearing text came in, and that buffer is wiped when it goes.
class RedactedText {
public:
    RedactedText() = default;
    std::string_view view() const { return bytes_.view(); }
    // Gives back the bytes from `offset` on, once they are copied elsewhere.
    void release_from(std::size_t offset) { bytes_.release_from(offset); }

private:
    friend class Redactor;
    explicit RedactedText(SecretBytes bytes) : bytes_(std::move(bytes)) {}

    SecretBytes bytes_;
};

class Redactor {
public:
    // Returns the bytes with every secret form replaced by its label, decoded
    // as UTF-8 with U+FFFD for each invalid sequence. Matching happens before
    // decoding, so secrets that are not valid UTF-8 are found too. Cannot fail.
    std::string redact(std::string_view text) const;

    // The same for a text that the redactor takes over: its buffer holds the
    // result where each label fits in the bytes it replaces, as with secrets
    // longer than their labels; otherwise the rest goes to a new buffer and
    // the old one is wiped. A cut text that ends in the first
    // kMinCutSecretBytes or more bytes of a secret form has them replaced by
    // that form's label too.
    RedactedText redact(SecretBytes&& text, TextEnd end = TextEnd::Whole) const;
    // The same, giving up when the watch says so: the result then holds the
    // redaction of the text up to where the search stood, and then, on a line
    // of its own, kDroppedOutputMarker for the rest, which is dropped unread.
    RedactedText redact(SecretBytes&& text, TextEnd end, RedactionWatch& watch) const;

    // Of a text that its writer may still add to, the first bytes whose
    // redaction no later byte can change: appends their redaction to `out`,
    // undecoded, and returns how many they are. The bytes after them begin
    // where a secret form may begin, or a longer one than the text holds yet.
    std::size_t redact_settled(std::string_view text, SecretBytes& out) const;

    // Appends the redaction of a text that has ended, undecoded, to `out`: as
    // redact() gives it, but for the decoding.
    void redact_ended(std::string_view text, TextEnd end, SecretBytes& out) const;
    // The same, giving up as redact() with a watch does.
    void redact_ended(std::string_view text, TextEnd end, SecretBytes& out,
                      RedactionWatch& watch) const;

private:
    friend Result<Redactor> build_redactor(const SecretList& entries, const SecretList& outside,
                                           const PatternMatcherOptions& options);
    Redactor(std::string label_text, std::vector<std::size_t> label_ends,
             std::optional<PatternMatcher> matcher, LongPatterns long_patterns)
        : label_text_(std::move(label_text)),
          label_ends_(std::move(label_ends)),
          matcher_(std::move(matcher)),
          long_patterns_(std::move(long_patterns)) {}

    // The label that replaces pattern number `pattern`.
    std::string_view label(std::size_t pattern) const;

    // The leftmost-first pattern that the text holds from `from` on, whole;
    // or, for a cut text that holds none, the first that it ends inside of
    // where the matcher found only its head; for a text that may go on, the
    // first whole or unfinished one.
    // Nothing once the watch gives up.
    std::optional<HeldPattern> find_secret(LongPatternSearch& search, RedactionWatch& watch,
                                           std::string_view text, std::size_t from,
                                           TextEnd end) const;

    // Appends `text` from `from` on to `out`, each match replaced by its label.
    // When the watch gives up, the rest is dropped for kDroppedOutputMarker.
    template <typename Out>
    void append_redacted(Out& out, std::string_view text, std::size_t from, TextEnd end,
                         RedactionWatch& watch) const;

    // The secret form whose start ends a cut text after its last match at
    // `from`, if it is long enough to be labelled.
    std::optional<PatternPrefix> cut_secret(std::string_view text, std::size_t from,
                                            TextEnd end) const;

    // Every label, one after another in pattern order; label i ends at label_ends_[i].
    std::string label_text_;
    std::vector<std::size_t> label_ends_;
    // Absent when no secret gave a pattern.
    std::optional<PatternMatcher> matcher_;
    LongPatterns long_patterns_;
};

// Builds the patterns of every non-empty secret, the vault's entries and
// those from outside it such as the master passphrase (the value and its
// encoded forms, in the order list_secret_patterns gives them), and the
// matcher over their heads, with the limits of `options`.
// The heads are as long as the matcher's limit on its patterns' bytes allows
// for all of them, up to kMatcherHeadBytes, so that any list of secrets gives a
// matcher while the patterns are fewer than that limit.
Result<Redactor> build_redactor(const SecretList& entries, const SecretList& outside = {},
                                const PatternMatcherOptions& options = {});

}  // namespace quillbox
