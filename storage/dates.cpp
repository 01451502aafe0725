// The clock, date records, date and time strings and the international
// settings.
#include "storage/dates.hpp"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/clock.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"

namespace storage {
using namespace core;

namespace {

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Day and month names by user-interface language (0 English, 1 French,
// 2 Spanish), in code page 1252.
constexpr const char* kWeekdayNames[3][7] = {
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
    {"Dimanche", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi"},
    {"Domingo", "Lunes", "Martes", "Mi\xE9rcoles", "Jueves", "Viernes", "S\xE1" "bado"},
};
constexpr const char* kMonthNames[3][12] = {
    {"January", "February", "March", "April", "May", "June", "July", "August", "September", "October",
     "November", "December"},
    {"Janvier", "F\xE9vrier", "Mars", "Avril", "Mai", "Juin", "Juillet", "Ao\xFBt", "Septembre", "Octobre",
     "Novembre", "D\xE9" "cembre"},
    {"Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Septiembre", "Octubre",
     "Noviembre", "Diciembre"},
};

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// ---- Locale settings ------------------------------------------------------------

bool plain_ascii(const char* s) {
  if (s == nullptr || *s == 0) return false;
  for (; *s; ++s)
    if (uint8_t(*s) < 32 || uint8_t(*s) > 126) return false;
  return true;
}

// Expands the composite conversions of a date or time format.
std::string expand_format(const char* fmt) {
  std::string out;
  for (const char* p = fmt; *p; ++p) {
    if (p[0] == '%' && p[1] != 0) {
      char c = *++p;
      if (c == 'E' || c == 'O') {  // modifiers
        if (p[1] == 0) break;
        c = *++p;
      }
      switch (c) {
        case 'D':
          out += "%m/%d/%y";
          break;
        case 'F':
          out += "%Y-%m-%d";
          break;
        case 'T':
          out += "%H:%M:%S";
          break;
        case 'R':
          out += "%H:%M";
          break;
        case 'r':
          out += "%I:%M:%S %p";
          break;
        default:
          out += '%';
          out += c;
      }
    } else {
      out += *p;
    }
  }
  return out;
}

// Reads the order of day, month and year and the first separator of a
// date format such as "%d.%m.%Y".
void read_date_format(const std::string& fmt, Intl& intl) {
  std::string order, sep;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size()) {
      char c = fmt[++i];
      if (c == 'd' || c == 'e') order += 'd';
      if (c == 'm') order += 'm';
      if (c == 'y' || c == 'Y') order += 'y';
    } else if (order.size() == 1 && sep.empty()) {
      sep = fmt[i];
    }
  }
  if (order == "mdy") intl.date_order = 0;
  if (order == "dmy") intl.date_order = 1;
  if (order == "ymd") intl.date_order = 2;
  if (plain_ascii(sep.c_str())) intl.date_sep = sep;
}

void read_time_format(const std::string& fmt, Intl& intl) {
  bool hour24 = fmt.find("%H") != std::string::npos || fmt.find("%k") != std::string::npos;
  bool hour12 = fmt.find("%I") != std::string::npos || fmt.find("%l") != std::string::npos;
  intl.time_24 = hour24 && !hour12 ? 1 : 0;
  size_t h = fmt.find_first_of("HIkl");
  if (h != std::string::npos && h + 1 < fmt.size() && fmt[h + 1] != '%') {
    std::string sep(1, fmt[h + 1]);
    if (plain_ascii(sep.c_str())) intl.time_sep = sep;
  }
}

bool is_default_locale(const char* name) {
  return name == nullptr || *name == 0 || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
         std::strncmp(name, "C.", 2) == 0;
}

// ---- Clock and records ------------------------------------------------------------

// The runtime's clock, widened so that the tick count's arithmetic cannot
// overflow.
int64_t elapsed_ms() { return int64_t(clock_ms()); }

// A clock argument: an integer taken as its unsigned 32-bit pattern, or a
// real in the clock's range.
uint32_t read_clock(Value v) {
  if (is_integer(v)) return uint32_t(read_integer(v));
  if (v.is(Tag::Real)) {
    double d = real_value(v);
    if (d >= 0 && d < 4294967296.0) return uint32_t(d);
  }
  error(Err::WrongType, v);
}

Value clock_value(uint32_t clock) { return make_integer(int32_t(clock)); }

Value record_of(const DateFields& f) {
  int64_t fields[7] = {f.year, f.month, f.day, f.hour, f.minute, f.second, f.weekday};
  Value out = kNil;
  for (int i = 7; i-- > 0;) out = cons(make_integer(int32_t(fields[i])), out);
  return out;
}

// A date record: the year, then month, day, hour, minute and second, the
// missing ones defaulted. The month must be 1 to 12.
DateFields read_record(Value record) {
  if (!record.is_pair()) error(Err::WrongType, record);
  DateFields f;
  int32_t values[6] = {0, 1, 1, 0, 0, 0};
  Value p = record;
  for (int i = 0; i < 6 && p.is_pair(); ++i, p = cdr(p)) values[i] = read_integer(car(p));
  f.year = values[0];
  f.month = values[1];
  f.day = values[2];
  f.hour = values[3];
  f.minute = values[4];
  f.second = values[5];
  if (f.month < 1 || f.month > 12) error(Err::WrongType, cdr(record).is_pair() ? car(cdr(record)) : record);
  return f;
}

DateFields now_fields() {
  DateFields f;
  time_t t = std::time(nullptr);
  if (!clock_to_fields(uint32_t(int64_t(t) + kClockOffset), f)) clock_to_fields(0, f);
  return f;
}

// ---- Primitives -------------------------------------------------------------------

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }

Value prim_get_time() { return clock_value(uint32_t(int64_t(std::time(nullptr)) + kClockOffset)); }

Value prim_get_date() { return record_of(now_fields()); }

Value prim_tick_count() { return make_integer(int32_t(uint32_t(elapsed_ms() * 3 / 50))); }

Value prim_milliseconds() { return make_integer(int32_t(uint32_t(elapsed_ms()))); }

Value prim_date_to_time(Value record) {
  uint32_t clock;
  if (!fields_to_clock(read_record(record), clock)) error(Err::WrongType, record);
  return clock_value(clock);
}

Value prim_time_to_date(Value seconds) {
  DateFields f;
  if (!clock_to_fields(read_clock(seconds), f)) clock_to_fields(0, f);
  return record_of(f);
}

Value prim_leap_year_p(Value year) { return boolean(leap_year(read_integer(year))); }

Value prim_week_day(Value record) {
  DateFields f = read_record(record);
  return make_fixnum(week_day(f.year, f.month, f.day));
}

Value prim_end_of_month(Value record) {
  DateFields f = read_record(record);
  f.day = f.month == 2 && leap_year(f.year) ? 29 : kMonthDays[f.month - 1];
  f.weekday = week_day(f.year, f.month, f.day);
  return record_of(f);
}

// Waits on the runtime's clock until n * 2 / 3 + 16 * n milliseconds have
// passed; no events are handled meanwhile.
Value prim_sleep(Value ticks) {
  int64_t n = read_integer(ticks);
  if (n <= 0) return kNoValue;
  int64_t ms = std::min<int64_t>(n * 2 / 3 + 16 * n, INT32_MAX);
  uint32_t start = clock_ms();
  for (int32_t passed = 0; passed < ms; passed = clock_diff(clock_ms(), start))
    clock_wait(uint32_t(ms - std::max(passed, 0)));
  return kNoValue;
}

Value prim_iudatestring(Value seconds, Value long_form) {
  DateFields f;
  if (!clock_to_fields(read_clock(seconds), f)) clock_to_fields(0, f);
  return make_string(date_string(intl_settings(), f, long_form.truthy(), rt().ui_language).c_str());
}

Value prim_iutimestring(Value seconds, Value with_seconds) {
  DateFields f;
  if (!clock_to_fields(read_clock(seconds), f)) clock_to_fields(0, f);
  return make_string(time_string(intl_settings(), f, with_seconds.truthy()).c_str());
}

const NativeRow kDateNatives[] = {
    TV_PRIM("get-time", prim_get_time, "(get-time) the clock seconds now, counted from 1904, as a signed 32-bit integer (the other clock primitives take it back)"),
    TV_PRIM("get-date", prim_get_date, "(get-date) the date record of now in local time: (YEAR MONTH DAY HOUR MINUTE SECOND WEEKDAY)"),
    TV_PRIM("tick-count", prim_tick_count, "(tick-count) the ticks (sixtieths of a second) since the runtime started"),
    TV_PRIM("milliseconds", prim_milliseconds, "(milliseconds) the milliseconds since the runtime started"),
    TV_PRIM("date->time", prim_date_to_time, "(date->time RECORD) the clock seconds of a date record (YEAR [MONTH DAY HOUR MINUTE SECOND]) taken as local time; error 2 with a month outside 1 to 12 or a date the clock cannot hold"),
    TV_PRIM("time->date", prim_time_to_date, "(time->date SECONDS) the date record of clock SECONDS in local time; error 2 when SECONDS is no clock value"),
    TV_PRIM("leap-year?", prim_leap_year_p, "(leap-year? YEAR) t when YEAR is a leap year (every fourth before 1582, the Gregorian rule from then on), otherwise nil"),
    TV_PRIM("week-day", prim_week_day, "(week-day RECORD) the day of the week of a date record, 1 (Sunday) to 7 (Saturday)"),
    TV_PRIM("end-of-month", prim_end_of_month, "(end-of-month RECORD) a new date record of the last day of RECORD's month, its week day set"),
    TV_PRIM("sleep", prim_sleep, "(sleep TICKS) waits TICKS sixtieths of a second without handling events; no value"),
    TV_PRIM("iudatestring", prim_iudatestring, "(iudatestring SECONDS LONG?) the date of clock SECONDS as text in the user's short form, or with LONG? true the long form with week day and month names"),
    TV_PRIM("iutimestring", prim_iutimestring, "(iutimestring SECONDS WITH-SECONDS?) the time of day of clock SECONDS as text in the user's 12- or 24-hour form, with the seconds when WITH-SECONDS? is true"),
};

}  // namespace

// ---- Settings ---------------------------------------------------------------------

Intl intl_for_locale(const char* name) {
  Intl intl;
  if (is_default_locale(name)) return intl;
  locale_t loc = newlocale(LC_TIME_MASK, name, locale_t(0));
  if (loc == locale_t(0)) return intl;
  read_date_format(expand_format(nl_langinfo_l(D_FMT, loc)), intl);
  read_time_format(expand_format(nl_langinfo_l(T_FMT, loc)), intl);
  const char* am = nl_langinfo_l(AM_STR, loc);
  const char* pm = nl_langinfo_l(PM_STR, loc);
  if (plain_ascii(am) && plain_ascii(pm)) {
    intl.morning = am;
    intl.afternoon = pm;
  }
  freelocale(loc);
  return intl;
}

Intl intl_settings() {
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != 0) return intl_for_locale(value);
  }
  return Intl{};
}

// ---- Calendar ---------------------------------------------------------------------

bool leap_year(int64_t year) {
  if (year % 4 != 0) return false;
  if (year < 1582) return true;
  return year % 400 == 0 || year % 100 != 0;
}

// Counts from the 1 January 1996 reference: a year back shifts the weekday
// by 6 (365 = 1 mod 7), a leap year back by 6 more, a year forward by 1 and
// a leap year forward by 1 more; dates before 5 October 1582 take the ten
// days that the calendar reform removed. The leap years between the year
// and the reference are counted in closed form.
int week_day(int64_t year, int month, int64_t day) {
  int64_t n = day % 7;
  if (month > 2 && leap_year(year)) n += 1;
  if (year < 1996) {
    if (year < 1582 || (year == 1582 && (month < 10 || (month == 10 && day < 5)))) n += 10;
    n += 6 * ((1996 - year) % 7);
    int64_t first = -floor_div(-year, 4) * 4;  // the first multiple of 4 at or above the year
    if (first <= 1992) {
      int64_t leaps = (1992 - first) / 4 + 1;
      for (int64_t century : {1700, 1800, 1900})
        if (century >= first) --leaps;
      n += 6 * (leaps % 7);
    }
  } else if (year > 1996) {
    n += (year - 1995) % 7;
    int64_t last = floor_div(year - 1, 4) * 4;  // the largest multiple of 4 below the year
    if (last >= 2000) {
      int64_t leaps = (last - 2000) / 4 + 1;
      leaps -= (last / 100 - 19) - (last / 400 - 4);
      n += leaps % 7;
    }
  }
  for (int m = 0; m + 1 < month; ++m) n += kMonthDays[m];
  return int(((n % 7) + 7) % 7) + 1;
}

bool clock_to_fields(uint32_t clock, DateFields& out) {
  time_t t = time_t(int64_t(clock) - kClockOffset);
  struct tm tm;
  if (localtime_r(&t, &tm) == nullptr) return false;
  out.year = int64_t(tm.tm_year) + 1900;
  out.month = tm.tm_mon + 1;
  out.day = tm.tm_mday;
  out.hour = tm.tm_hour;
  out.minute = tm.tm_min;
  out.second = tm.tm_sec;
  out.weekday = tm.tm_wday + 1;
  return true;
}

bool fields_to_clock(const DateFields& in, uint32_t& clock) {
  if (in.year - 1900 < INT32_MIN || in.year - 1900 > INT32_MAX) return false;
  struct tm tm {};
  tm.tm_year = int(in.year - 1900);
  tm.tm_mon = in.month - 1;
  tm.tm_mday = in.day;
  tm.tm_hour = in.hour;
  tm.tm_min = in.minute;
  tm.tm_sec = in.second;
  tm.tm_isdst = -1;
  errno = 0;
  time_t t = mktime(&tm);
  if (t == time_t(-1) && errno != 0) return false;
  int64_t c = int64_t(t) + kClockOffset;
  if (c < 0 || c > int64_t(UINT32_MAX)) return false;
  clock = uint32_t(c);
  return true;
}

// ---- Strings ----------------------------------------------------------------------

std::string date_string(const Intl& intl, const DateFields& f, bool long_form, int language) {
  char buf[160];
  if (long_form) {
    int lang = language >= 0 && language < 3 ? language : 0;
    int wd = f.weekday >= 1 && f.weekday <= 7 ? f.weekday - 1 : 0;
    std::snprintf(buf, sizeof buf, "%s %02d %s %lld", kWeekdayNames[lang][wd], f.day,
                  kMonthNames[lang][(f.month - 1) % 12], static_cast<long long>(f.year));
    return buf;
  }
  // The year of the short date is its last two digits.
  int year = int(((f.year % 100) + 100) % 100);
  int a = f.month, b = f.day, c = year;
  if (intl.date_order == 1) a = f.day, b = f.month;
  if (intl.date_order == 2) a = year, b = f.month, c = f.day;
  const char* s = intl.date_sep.c_str();
  std::snprintf(buf, sizeof buf, intl.date_order == 2 ? "%02d%s%02d%s%02d" : "%d%s%02d%s%02d", a, s, b, s, c);
  return buf;
}

std::string time_string(const Intl& intl, const DateFields& f, bool with_seconds) {
  char buf[160];
  const char* s = intl.time_sep.c_str();
  if (intl.time_24 == 1) {
    if (with_seconds)
      std::snprintf(buf, sizeof buf, "%02d%s%02d%s%02d", f.hour, s, f.minute, s, f.second);
    else
      std::snprintf(buf, sizeof buf, "%02d%s%02d", f.hour, s, f.minute);
    return buf;
  }
  int hour = f.hour % 12 == 0 ? 12 : f.hour % 12;
  const char* suffix = f.hour < 12 ? intl.morning.c_str() : intl.afternoon.c_str();
  if (with_seconds)
    std::snprintf(buf, sizeof buf, " %d%s%02d%s%02d %s ", hour, s, f.minute, s, f.second, suffix);
  else
    std::snprintf(buf, sizeof buf, " %d%s%02d %s ", hour, s, f.minute, suffix);
  return buf;
}

static void install_module(core::Runtime&) {
  register_natives(kDateNatives);
}

extern const core::Module kDatesModule{"dates", nullptr, install_module};

}  // namespace storage
