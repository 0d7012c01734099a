// The lockfile record parser on any file contents, and the RFC 3339 parser on
// any text: neither crashes or overflows, a parsed time prints and parses back
// to itself, and a record we write always parses back to what we wrote.

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/utf8.hpp"
#include "support/fuzz_check.hpp"
#include "vault/lock_record.hpp"
#include "vault/rfc3339.hpp"

namespace {

using quillbox::WallTime;
using quillbox::fuzzing::fuzz_check;

void check_time(WallTime time) {
    const auto again = quillbox::parse_rfc3339(quillbox::format_rfc3339_utc(time));
    fuzz_check(again == time, "a time prints and parses back to itself");
}

// The age of a record seen from the ends of the clock's range, from the
// epoch and from the record's own time.
void check_ages(const quillbox::LockRecord& record) {
    for (const WallTime now : {WallTime::min(), WallTime::max(), WallTime{}}) {
        (void)quillbox::lock_record_age_secs(record, now);
    }
    if (record.acquired_at) {
        fuzz_check(quillbox::lock_record_age_secs(record, *record.acquired_at) == 0,
                   "a record is no age at its own time");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view contents(reinterpret_cast<const char*>(data), size);

    if (const auto time = quillbox::parse_rfc3339(contents)) check_time(*time);

    if (const auto record = quillbox::parse_lock_record(contents)) {
        fuzz_check(quillbox::is_valid_utf8(contents), "only UTF-8 holds a record");
        if (record->acquired_at) check_time(*record->acquired_at);
        check_ages(*record);
    }

    // The same bytes read as a process ID and a time anywhere in the clock's range.
    FuzzedDataProvider input(data, size);
    const auto pid = input.ConsumeIntegral<std::uint32_t>();
    const WallTime time{std::chrono::nanoseconds(input.ConsumeIntegral<std::int64_t>())};
    const auto written = quillbox::parse_lock_record(quillbox::format_lock_record(pid, time));
    fuzz_check(written && written->pid == pid && written->acquired_at == time,
               "a record we write parses back to what we wrote");
    check_ages(*written);
    return 0;
}
