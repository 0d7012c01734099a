#include "vault/lock_record.hpp"

#include <limits>
#include <vector>

#include "core/unicode_properties.hpp"
#include "core/utf8.hpp"
#include "vault/wall_time.hpp"

namespace quillbox {
namespace {

// Trims characters with the White_Space property from both ends of valid UTF-8.
std::string_view trim_white_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const Utf8Step step = decode_utf8_step(text, begin);
        if (!is_white_space(step.code_point)) break;
        begin += step.length;
    }
    std::size_t end = begin;
    for (std::size_t offset = begin; offset < text.size();) {
        const Utf8Step step = decode_utf8_step(text, offset);
        offset += step.length;
        if (!is_white_space(step.code_point)) end = offset;
    }
    return text.substr(begin, end - begin);
}

// The lines of the text: each ends at a line feed, a carriage return just
// before it goes with it, and a last line without a line feed counts when it
// is not empty.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

// An optional "+", then decimal digits only, within 32 bits.
std::optional<std::uint32_t> parse_pid(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(ch - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

std::string format_lock_record(std::uint32_t pid, WallTime acquired_at) {
    return std::to_string(pid) + '\n' + format_rfc3339_utc(acquired_at) + '\n';
}

std::optional<LockRecord> parse_lock_record(std::string_view contents) {
    if (!is_valid_utf8(contents)) return std::nullopt;
    const std::vector<std::string_view> lines = split_lines(contents);
    if (lines.size() < 2) return std::nullopt;
    const std::optional<std::uint32_t> pid = parse_pid(trim_white_space(lines[0]));
    if (!pid) return std::nullopt;
    return LockRecord{*pid, parse_rfc3339(trim_white_space(lines[1]))};
}

std::uint64_t lock_record_age_secs(const LockRecord& record, WallTime now) {
    if (!record.acquired_at || now < *record.acquired_at) return 0;
    // Two times of the clock's range can lie further apart than its
    // nanoseconds count, so whole seconds and the rest are subtracted apart.
    const SplitWallTime from = split_wall_time(*record.acquired_at);
    const SplitWallTime to = split_wall_time(now);
    const auto whole = (to.whole - from.whole).count();
    return static_cast<std::uint64_t>(to.past < from.past ? whole - 1 : whole);
}

}  // namespace quillbox
