// Dates and times: the clock in seconds since 1904, the tick count, date
// records and the date and time strings of the international settings.
//
// Clock seconds are the calendar time plus 2082826800, held as an unsigned
// 32-bit number (a Lisp integer carries its bit pattern): they are past 2^31
// already, so every conversion goes through 64-bit calendar time and the
// unsigned value, and a date outside the clock's range is error 2 rather
// than a wrapped number. The tick count and the millisecond counter run from
// the runtime's start on the steady clock, computed in 64 bits.
//
// The international settings come from the process locale (LC_TIME), read
// with newlocale and nl_langinfo_l every time a string is made; the process
// locale itself is never changed, so reals read and print the same under
// every LANG.
#pragma once
#include <cstdint>
#include <string>

#include "core/module.hpp"
#include "core/value.hpp"

namespace storage {

constexpr int64_t kClockOffset = 2082826800;

// The "intl" settings: short date order (0 month-day-year, 1 day-month-year,
// 2 year-month-day), 24-hour time (iTime 1), separators and suffixes.
struct Intl {
  int date_order = 0;       // "iDate"
  int time_24 = 0;          // "iTime"
  std::string date_sep = "/";   // "sDate"
  std::string time_sep = ":";   // "sTime"
  std::string morning = "AM";   // "s1159"
  std::string afternoon = "PM"; // "s2359"
  std::string decimal = ".";    // "sDecimal"
};

// The settings of a locale name; the defaults for C, POSIX, an empty name,
// a locale that is not installed, and each value the locale does not give.
Intl intl_for_locale(const char* name);
// The settings of the process locale (LC_ALL, LC_TIME, then LANG).
Intl intl_settings();

// A broken-down local date and time.
struct DateFields {
  int64_t year = 1904;
  int month = 1, day = 1, hour = 0, minute = 0, second = 0;
  int weekday = 6;  // 1 Sunday to 7 Saturday
};

bool leap_year(int64_t year);
// 1 (Sunday) to 7 (Saturday), in closed form for any year; the month must
// be 1 to 12.
int week_day(int64_t year, int month, int64_t day);

// Clock seconds to local fields and back; false when the time is outside
// the clock's range or the calendar cannot convert it.
bool clock_to_fields(uint32_t clock, DateFields& out);
bool fields_to_clock(const DateFields& in, uint32_t& clock);

// The date and time strings.
std::string date_string(const Intl& intl, const DateFields& f, bool long_form, int language);
std::string time_string(const Intl& intl, const DateFields& f, bool with_seconds);

extern const core::Module kDatesModule;

}  // namespace storage
