#include "vault/rfc3339.hpp"

#include <cstdint>
#include <cstdio>

namespace quillbox {
namespace {

using namespace std::chrono;

// Reads exactly `count` decimal digits.
class DigitReader {
public:
    explicit DigitReader(std::string_view text) : text_(text) {}

    std::optional<unsigned> digits(std::size_t count) {
        if (text_.size() - position_ < count) return std::nullopt;
        unsigned value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const char ch = text_[position_ + i];
            if (ch < '0' || ch > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(ch - '0');
        }
        position_ += count;
        return value;
    }

    // Reads one character if it is one of `choices`.
    std::optional<char> one_of(std::string_view choices) {
        if (position_ == text_.size()) return std::nullopt;
        const char ch = text_[position_];
        if (choices.find(ch) == std::string_view::npos) return std::nullopt;
        ++position_;
        return ch;
    }

    bool expect(char wanted) { return one_of(std::string_view(&wanted, 1)).has_value(); }

    // The nanoseconds of a fraction's digits (at least one), ignoring any past the ninth.
    std::optional<nanoseconds> fraction() {
        std::int64_t nanos = 0;
        std::size_t count = 0;
        while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9') {
            if (count < 9) nanos = nanos * 10 + (text_[position_] - '0');
            ++count;
            ++position_;
        }
        if (count == 0) return std::nullopt;
        for (std::size_t i = count; i < 9; ++i) nanos *= 10;
        return nanoseconds(nanos);
    }

    bool at_end() const { return position_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

std::optional<sys_days> read_date(DigitReader& in) {
    const auto year_number = in.digits(4);
    if (!year_number || !in.expect('-')) return std::nullopt;
    const auto month_number = in.digits(2);
    if (!month_number || !in.expect('-')) return std::nullopt;
    const auto day_number = in.digits(2);
    if (!day_number) return std::nullopt;
    const year_month_day date{year(static_cast<int>(*year_number)), month(*month_number),
                              day(*day_number)};
    if (!date.ok()) return std::nullopt;
    return sys_days(date);
}

struct TimeOfDay {
    seconds whole;
    nanoseconds fraction;
};

// The time of day; a leap second is folded onto the second before it.
std::optional<TimeOfDay> read_time(DigitReader& in) {
    const auto hour = in.digits(2);
    if (!hour || *hour > 23 || !in.expect(':')) return std::nullopt;
    const auto minute = in.digits(2);
    if (!minute || *minute > 59 || !in.expect(':')) return std::nullopt;
    const auto second = in.digits(2);
    if (!second || *second > 60) return std::nullopt;
    TimeOfDay time{hours(*hour) + minutes(*minute) + seconds(*second == 60 ? 59 : *second),
                   nanoseconds::zero()};
    if (in.expect('.')) {
        const auto fraction = in.fraction();
        if (!fraction) return std::nullopt;
        time.fraction = *fraction;
    }
    return time;
}

// How far local time is ahead of UTC.
std::optional<minutes> read_offset(DigitReader& in) {
    if (in.one_of("Zz")) return minutes(0);
    const auto sign = in.one_of("+-");
    if (!sign) return std::nullopt;
    const auto offset_hours = in.digits(2);
    if (!offset_hours || *offset_hours > 23 || !in.expect(':')) return std::nullopt;
    const auto offset_minutes = in.digits(2);
    if (!offset_minutes || *offset_minutes > 59) return std::nullopt;
    const minutes offset = hours(*offset_hours) + minutes(*offset_minutes);
    return *sign == '-' ? -offset : offset;
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
    const SplitWallTime split = split_wall_time(time);
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

std::optional<WallTime> parse_rfc3339(std::string_view text) {
    DigitReader in(text);
    const auto date = read_date(in);
    if (!date || !in.one_of("Tt ")) return std::nullopt;
    const auto time = read_time(in);
    if (!time) return std::nullopt;
    const auto offset = read_offset(in);
    if (!offset || !in.at_end()) return std::nullopt;
    // Counted in whole seconds, any four-digit year fits; only the result
    // must fit the clock.
    return join_wall_time({*date + time->whole - *offset, time->fraction});
}

}  // namespace quillbox
