#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vault/rfc3339.hpp"

namespace quillbox {

// What the exclusive holder of a vault lockfile writes into it, one line each:
// its process ID and the UTC time at which it took the lock.
struct LockRecord {
    std::uint32_t pid;
    // Absent when the second line is not a valid RFC 3339 timestamp.
    std::optional<WallTime> acquired_at;
};

// "<pid>\n<timestamp>\n", the timestamp written with a "+00:00" offset.
std::string format_lock_record(std::uint32_t pid, WallTime acquired_at);

// The record in a lockfile's contents, or nothing when they do not hold one:
// not UTF-8, fewer than two lines, or a first line that is not a process ID.
// Lines end at a line feed (a carriage return before it is dropped), and each
// line is read with the white space at both ends trimmed.
std::optional<LockRecord> parse_lock_record(std::string_view contents);

// The whole seconds from the record's time to `now`, truncated; 0 when the
// time is missing or lies in the future.
std::uint64_t lock_record_age_secs(const LockRecord& record, WallTime now);

}  // namespace quillbox
