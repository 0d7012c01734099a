#include "redact/redactor.hpp"

#include <algorithm>
#include <cstring>

#include "core/utf8.hpp"
#include "redact/secret_patterns.hpp"

namespace quillbox {
namespace {

// The bytes as text: nearly always valid UTF-8 already, and checking is
// cheaper than copying.
SecretBytes decoded(SecretBytes&& bytes) {
    if (is_valid_utf8(bytes.view())) return std::move(bytes);
    return SecretBytes(decode_utf8_lossy(bytes.view()));
}

// The longest heads, up to kMatcherHeadBytes, whose bytes together stay within
// the matcher's limit; at least one byte.
std::size_t head_length_within(const SecretPatterns& patterns, std::size_t max_pattern_bytes) {
    const auto bytes_needed = [&](std::size_t head_length) {
        std::size_t bytes = 0;
        for (std::size_t index = 0; index < patterns.size(); ++index) {
            bytes += std::min(patterns.full_length(index), head_length);
        }
        return bytes;
    };
    std::size_t fits = 1;
    std::size_t fails = kMatcherHeadBytes + 1;
    while (fails - fits > 1) {
        const std::size_t middle = fits + (fails - fits) / 2;
        (bytes_needed(middle) <= max_pattern_bytes ? fits : fails) = middle;
    }
    return fits;
}

std::string_view written_so_far(const std::string& out) {
    return out;
}
std::string_view written_so_far(const SecretBytes& out) {
    return out.view();
}

// Ends a text whose redaction gave up, on a line of its own.
template <typename Out>
void append_dropped_marker(Out& out) {
    const std::string_view written = written_so_far(out);
    if (!written.empty() && !written.ends_with('\n')) out.append("\n");
    out.append(kDroppedOutputMarker);
}

}  // namespace

Result<Redactor> build_redactor(const SecretList& entries, const SecretList& outside,
                                const PatternMatcherOptions& options) {
    SecretPatterns patterns = list_secret_patterns(entries, outside);
    if (patterns.size() == 0) return Redactor({}, {}, std::nullopt, {});
    const std::size_t head_length = head_length_within(patterns, options.max_pattern_bytes);
    Result<PatternMatcher> matcher = PatternMatcher::build(patterns.heads(head_length), options);
    if (!matcher) return fail(std::move(matcher.error()));
    LongPatterns long_patterns(entries, outside, patterns, head_length);
    return Redactor(patterns.take_label_text(), patterns.take_label_ends(), std::move(*matcher),
                    std::move(long_patterns));
}

std::optional<HeldPattern> Redactor::find_secret(LongPatternSearch& search, RedactionWatch& watch,
                                                 std::string_view text, std::size_t from,
                                                 TextEnd end) const {
    // A cut text's unfinished pattern counts only once no whole one follows;
    // one that may go on stops the search where it begins.
    std::optional<HeldPattern> unfinished;
    for (;;) {
        if (watch.gives_up()) return std::nullopt;
        const auto found = matcher_->find(text, from);
        if (!found) return unfinished;
        if (long_patterns_.is_whole(found->pattern)) {
            return HeldPattern{found->pattern, found->start, found->end, false};
        }
        const bool unfinished_wanted = end == TextEnd::Open || (end == TextEnd::Cut && !unfinished);
        const auto held =
            long_patterns_.held_at(*matcher_, search, found->start, end, unfinished_wanted);
        if (held && (!held->unfinished || end == TextEnd::Open)) return held;
        if (held && held->end - held->start >= kMinCutSecretBytes) unfinished = held;
        from = found->start + 1;
    }
}

std::string_view Redactor::label(std::size_t pattern) const {
    const std::size_t start = pattern == 0 ? 0 : label_ends_[pattern - 1];
    return std::string_view(label_text_).substr(start, label_ends_[pattern] - start);
}

std::optional<PatternPrefix> Redactor::cut_secret(std::string_view text, std::size_t from,
                                                  TextEnd end) const {
    if (end != TextEnd::Cut) return std::nullopt;
    const auto unfinished = matcher_->unfinished_match(text, from);
    if (!unfinished || unfinished->length < kMinCutSecretBytes) return std::nullopt;
    return unfinished;
}

template <typename Out>
void Redactor::append_redacted(Out& out, std::string_view text, std::size_t from, TextEnd end,
                               RedactionWatch& watch) const {
    LongPatternSearch search(text);
    while (const auto match = find_secret(search, watch, text, from, end)) {
        out.append(text.substr(from, match->start - from));
        out.append(label(match->pattern));
        from = match->end;
    }
    if (watch.gave_up() && from < text.size()) {
        append_dropped_marker(out);
        return;
    }
    const auto cut = cut_secret(text, from, end);
    out.append(text.substr(from, text.size() - from - (cut ? cut->length : 0)));
    if (cut) out.append(label(cut->pattern));
}

std::size_t Redactor::redact_settled(std::string_view text, SecretBytes& out) const {
    if (!matcher_) {
        out.append(text);
        return text.size();
    }
    // Matches are taken in order as in a whole text, each once no earlier
    // start may still begin a pattern and no longer pattern may still win at
    // its own start; the first start that may is where the settled bytes end.
    LongPatternSearch search(text);
    RedactionWatch never;
    std::size_t from = 0;
    const auto settle_up_to = [&](std::size_t end) {
        out.append(text.substr(from, end - from));
        return end;
    };
    for (;;) {
        const auto match = find_secret(search, never, text, from, TextEnd::Open);
        const std::size_t next_start = match ? match->start : text.size();
        if (const auto open = matcher_->open_start(text, from, next_start)) {
            return settle_up_to(*open);
        }
        if (!match) return settle_up_to(text.size());
        if (match->unfinished || matcher_->open_start(text, match->start, match->start + 1)) {
            return settle_up_to(match->start);
        }
        settle_up_to(match->start);
        out.append(label(match->pattern));
        from = match->end;
    }
}

void Redactor::redact_ended(std::string_view text, TextEnd end, SecretBytes& out) const {
    RedactionWatch never;
    redact_ended(text, end, out, never);
}

void Redactor::redact_ended(std::string_view text, TextEnd end, SecretBytes& out,
                            RedactionWatch& watch) const {
    if (!matcher_) {
        out.append(text);
        return;
    }
    append_redacted(out, text, 0, end, watch);
}

std::string Redactor::redact(std::string_view text) const {
    if (!matcher_) return decode_utf8_lossy(text);
    std::string out;
    out.reserve(text.size());
    RedactionWatch never;
    append_redacted(out, text, 0, TextEnd::Whole, never);
    return is_valid_utf8(out) ? out : decode_utf8_lossy(out);
}

RedactedText Redactor::redact(SecretBytes&& text, TextEnd end) const {
    RedactionWatch never;
    return redact(std::move(text), end, never);
}

RedactedText Redactor::redact(SecretBytes&& text, TextEnd end, RedactionWatch& watch) const {
    if (!matcher_) return RedactedText(decoded(std::move(text)));
    // The result is written at the front of the buffer, never beyond the end
    // of the last match, where the search goes on.
    std::size_t written = 0;
    std::size_t from = 0;
    // Moves the next `count` bytes from where the search stands to the result.
    const auto keep = [&](std::size_t count) {
        if (written != from) std::memmove(text.data() + written, text.data() + from, count);
        written += count;
    };
    // Where a label would overwrite bytes not yet searched, or not fit in the
    // buffer, the rest goes to a new buffer and the old one is wiped.
    const auto finish_in_new_buffer = [&] {
        SecretBytes out;
        out.reserve(text.size());
        out.append(text.view().substr(0, written));
        append_redacted(out, text.view(), from, end, watch);
        text.wipe();
        return RedactedText(decoded(std::move(out)));
    };
    LongPatternSearch search(text.view());
    while (const auto match = find_secret(search, watch, text.view(), from, end)) {
        const std::string_view replacement = label(match->pattern);
        const std::size_t kept = match->start - from;
        if (written + kept + replacement.size() > match->end) return finish_in_new_buffer();
        keep(kept);
        std::memcpy(text.data() + written, replacement.data(), replacement.size());
        written += replacement.size();
        from = match->end;
    }
    if (watch.gave_up() && from < text.size()) {
        // Shrinking zeros the rest.
        text.resize(written);
        append_dropped_marker(text);
        return RedactedText(decoded(std::move(text)));
    }
    const auto cut = cut_secret(text.view(), from, end);
    const std::string_view cut_label = cut ? label(cut->pattern) : std::string_view();
    const std::size_t rest = text.size() - from - (cut ? cut->length : 0);
    const std::size_t result_size = written + rest + cut_label.size();
    if (result_size > text.capacity()) return finish_in_new_buffer();
    keep(rest);
    // Within the capacity the buffer stays where it is.
    if (result_size > text.size()) text.resize(result_size);
    if (cut) {
        std::memcpy(text.data() + written, cut_label.data(), cut_label.size());
        written += cut_label.size();
    }
    // What lies beyond the result may be part of a secret; shrinking zeros it.
    text.resize(written);
    return RedactedText(decoded(std::move(text)));
}

}  // namespace quillbox
