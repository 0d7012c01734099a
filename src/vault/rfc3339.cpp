#include "vault/rfc3339.hpp"

#include <cstdint>
#include <cstdio>

namespace quillbox {
namespace {

using namespace std::chrono;

// A time as whole seconds, rounded down, and the nanoseconds past them.
struct SplitTime {
    sys_seconds whole;
    nanoseconds past;  // from 0 to just under a second
};

SplitTime split_time(WallTime time) {
    // Both steps round toward zero and stay inside the range; a time before
    // the epoch is then moved down to the second below it.
    const nanoseconds since_epoch = time.time_since_epoch();
    const sys_seconds whole(duration_cast<seconds>(since_epoch));
    const nanoseconds past = since_epoch % seconds(1);
    if (past < nanoseconds::zero()) return {whole - seconds(1), past + seconds(1)};
    return {whole, past};
}

// A point and the fewest of 3, 6 or 9 digits that hold the nanoseconds exactly;
// nothing for a whole second.
void append_fraction(std::string& out, std::int64_t nanos) {
    if (nanos == 0) return;
    int digits = 9;
    while (digits > 3 && nanos % 1000 == 0) {
        nanos /= 1000;
        digits -= 3;
    }
    char text[16];
    std::snprintf(text, sizeof text, ".%0*lld", digits, static_cast<long long>(nanos));
    out += text;
}

}  // namespace

std::string format_rfc3339_utc(WallTime time) {
    // Whole seconds first: at the ends of the clock's range the start of the
    // day lies outside it.
    const SplitTime split = split_time(time);
    const sys_days date = floor<days>(split.whole);
    const year_month_day ymd(date);
    const hh_mm_ss<seconds> clock(split.whole - date);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    std::string out = text;
    append_fraction(out, split.past.count());
    return out + "+00:00";
}

}  // namespace quillbox
