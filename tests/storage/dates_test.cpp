#include "storage/dates.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <sys/wait.h>

#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

using storage::DateFields;
using storage::Intl;

// The weekday rule spelled out step by step, loops included: the closed
// form must agree with it for every year.
int week_day_by_loops(int64_t year, int month, int64_t day) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t n = day;
  if (month > 2 && storage::leap_year(year)) n += 1;
  if (year < 1996) {
    if (year < 1582 || (year == 1582 && (month < 10 || (month == 10 && day < 5)))) n += 10;
    n += 6 * (1996 - year);
    int64_t y = year;
    while (((y % 4) + 4) % 4 != 0) ++y;
    for (; y <= 1992; y += 4)
      if (storage::leap_year(y)) n += 6;
  } else if (year > 1996) {
    n += year - 1995;
    int64_t y = year - 1;
    while (((y % 4) + 4) % 4 != 0) --y;
    for (; y >= 2000; y -= 4)
      if (storage::leap_year(y)) n += 1;
  }
  for (int m = 0; m + 1 < month; ++m) n += days[m];
  return int(((n % 7) + 7) % 7) + 1;
}

// Sets TZ for the extent of a test and restores it.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (had_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string saved_;
};

TEST(Calendar, LeapYears) {
  EXPECT_TRUE(storage::leap_year(1500));
  EXPECT_TRUE(storage::leap_year(2000));
  EXPECT_TRUE(storage::leap_year(1996));
  EXPECT_FALSE(storage::leap_year(1900));
  EXPECT_FALSE(storage::leap_year(1999));
  EXPECT_TRUE(storage::leap_year(1300));
  EXPECT_FALSE(storage::leap_year(2100));
}

TEST(Calendar, WeekDays) {
  EXPECT_EQ(storage::week_day(1996, 1, 1), 2);
  EXPECT_EQ(storage::week_day(2001, 1, 1), 2);
  EXPECT_EQ(storage::week_day(1998, 12, 5), 7);
  for (int64_t year = -2000; year <= 4500; year += 7)
    for (int month = 1; month <= 12; month += 5)
      for (int day : {1, 5, 14, 28, 31})
        ASSERT_EQ(storage::week_day(year, month, day), week_day_by_loops(year, month, day))
            << year << "-" << month << "-" << day;
  // A huge year is computed at once.
  EXPECT_GE(storage::week_day(2000000000, 6, 1), 1);
  EXPECT_LE(storage::week_day(-2000000000, 6, 1), 7);
}

TEST(Calendar, WeekDaysAgreeWithTheCLibraryFromTheReformOn) {
  TimeZone utc("UTC0");
  for (int64_t days = -140000; days < 160000; days += 37) {
    time_t t = time_t(days * 86400);
    struct tm tm;
    ASSERT_NE(gmtime_r(&t, &tm), nullptr);
    if (tm.tm_year + 1900 < 1583) continue;
    ASSERT_EQ(storage::week_day(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), tm.tm_wday + 1)
        << tm.tm_year + 1900 << "-" << tm.tm_mon + 1 << "-" << tm.tm_mday;
  }
}

TEST(Calendar, ClockConversionsAgreeWithTheCLibrary) {
  for (const char* tz : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
    TimeZone zone(tz);
    const uint32_t clocks[] = {0u,           1u,          2082826799u, 2082826800u, 2082826801u,
                               3029529600u,  4230310447u, 4230310448u, 4294967295u,
                               // leap days: 2000-02-29 and 2024-02-29 at noon UTC
                               uint32_t(951825600 + storage::kClockOffset),
                               uint32_t(1709208000 + storage::kClockOffset)};
    for (uint32_t clock : clocks) {
      DateFields f;
      ASSERT_TRUE(storage::clock_to_fields(clock, f)) << clock;
      time_t t = time_t(int64_t(clock) - storage::kClockOffset);
      struct tm tm;
      ASSERT_NE(localtime_r(&t, &tm), nullptr);
      EXPECT_EQ(f.year, tm.tm_year + 1900) << tz << " " << clock;
      EXPECT_EQ(f.month, tm.tm_mon + 1);
      EXPECT_EQ(f.day, tm.tm_mday);
      EXPECT_EQ(f.hour, tm.tm_hour);
      EXPECT_EQ(f.minute, tm.tm_min);
      EXPECT_EQ(f.second, tm.tm_sec);
      EXPECT_EQ(f.weekday, tm.tm_wday + 1);
      uint32_t back = 0;
      ASSERT_TRUE(storage::fields_to_clock(f, back)) << clock;
      // A repeated hour at the end of summer time may map to either side.
      EXPECT_LE(std::abs(int64_t(back) - int64_t(clock)), 3600) << tz << " " << clock;
    }
  }
  TimeZone utc("UTC0");
  DateFields f;
  storage::clock_to_fields(0, f);
  EXPECT_EQ(f.year, 1904);
  EXPECT_EQ(f.hour, 5);  // the clock's origin is 5 hours after midnight UTC
  EXPECT_EQ(f.weekday, 6);
  storage::clock_to_fields(4230310447u, f);  // 2038-01-19 03:14:07 UTC
  EXPECT_EQ(f.year, 2038);
  EXPECT_EQ(f.month, 1);
  EXPECT_EQ(f.day, 19);
  EXPECT_EQ(f.hour, 3);
  storage::clock_to_fields(uint32_t(951825600 + storage::kClockOffset), f);
  EXPECT_EQ(f.month, 2);
  EXPECT_EQ(f.day, 29);
}

TEST(Calendar, DatesOutsideTheClockAreRefused) {
  TimeZone utc("UTC0");
  uint32_t clock;
  DateFields f;
  f.year = 2100;
  EXPECT_FALSE(storage::fields_to_clock(f, clock));
  f.year = 1904;
  f.hour = 4;
  EXPECT_FALSE(storage::fields_to_clock(f, clock));
  f.hour = 5;
  ASSERT_TRUE(storage::fields_to_clock(f, clock));
  EXPECT_EQ(clock, 0u);
  f.year = 2040;
  f.month = 2;
  f.day = 7;
  EXPECT_FALSE(storage::fields_to_clock(f, clock));
}

TEST(Settings, TheCLocaleGivesTheDefaults) {
  for (const char* name : {"C", "POSIX", "", "C.UTF-8", "no_SUCH.locale"}) {
    Intl intl = storage::intl_for_locale(name);
    EXPECT_EQ(intl.date_order, 0) << name;
    EXPECT_EQ(intl.time_24, 0);
    EXPECT_EQ(intl.date_sep, "/");
    EXPECT_EQ(intl.time_sep, ":");
    EXPECT_EQ(intl.morning, "AM");
    EXPECT_EQ(intl.afternoon, "PM");
    EXPECT_EQ(intl.decimal, ".");
  }
}

// Compiles a locale from the system's locale sources into a directory, for
// LOCPATH to name (under a name of its own, which no installed locale
// shadows). False when there are no sources.
bool compile_locale(const std::string& dir, const char* source) {
  std::string command = "localedef -i " + std::string(source) + " -f UTF-8 " + dir + "/talven-" + source +
                        " >/dev/null 2>&1";
  // localedef exits with 1 when it only has warnings.
  int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

// The checks on the two compiled locales; the failures, or "".
std::string check_locales() {
  std::string failures;
  auto expect = [&](bool ok, const char* what) {
    if (!ok) failures += std::string(what) + "\n";
  };
  Intl german = storage::intl_for_locale("talven-de_DE");
  expect(german.date_order == 1, "de date order");
  expect(german.date_sep == ".", "de date separator");
  expect(german.time_24 == 1, "de 24-hour time");
  expect(german.time_sep == ":", "de time separator");
  expect(german.decimal == ".", "de decimal mark");
  Intl american = storage::intl_for_locale("talven-en_US");
  expect(american.date_order == 0, "us date order");
  expect(american.date_sep == "/", "us date separator");
  expect(american.time_24 == 0, "us 12-hour time");
  expect(american.morning == "AM" && american.afternoon == "PM", "us suffixes");
  // The process's own settings follow LC_ALL, then LC_TIME, then LANG.
  setenv("LC_ALL", "", 1);
  setenv("LC_TIME", "talven-de_DE", 1);
  setenv("LANG", "talven-en_US", 1);
  expect(storage::intl_settings().date_order == 1, "LC_TIME before LANG");
  unsetenv("LC_TIME");
  expect(storage::intl_settings().date_order == 0, "LANG");
  return failures;
}

// The C library keeps a little memory for every locale it loads through
// LOCPATH, which the leak checker would report: the locales are read in a
// child process that ends without the exit checks.
TEST(Settings, InstalledLocalesGiveTheirOrderSeparatorsAndClock) {
  char dir[] = "/tmp/talven-locales-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  bool built = compile_locale(dir, "de_DE") && compile_locale(dir, "en_US");
  if (built) {
    EXPECT_EXIT(
        {
          setenv("LOCPATH", dir, 1);
          std::string failures = check_locales();
          std::fputs(failures.c_str(), stderr);
          std::_Exit(failures.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
  }
  std::system((std::string("rm -rf ") + dir).c_str());
  if (!built) GTEST_SKIP() << "no locale sources to build de_DE and en_US from";
}

TEST(DateStrings, ShortAndLongDates) {
  Intl intl;
  DateFields f;
  f.year = 1998;
  f.month = 12;
  f.day = 5;
  f.weekday = 7;
  EXPECT_EQ(storage::date_string(intl, f, false, 0), "12/05/98");
  intl.date_order = 2;
  EXPECT_EQ(storage::date_string(intl, f, false, 0), "98/12/05");
  intl.date_order = 1;
  intl.date_sep = ".";
  EXPECT_EQ(storage::date_string(intl, f, false, 0), "5.12.98");
  intl = Intl{};
  f.year = 2005;
  EXPECT_EQ(storage::date_string(intl, f, false, 0), "12/05/05");
  f.year = 2000;
  EXPECT_EQ(storage::date_string(intl, f, false, 0), "12/05/00");
  f.year = 1998;
  EXPECT_EQ(storage::date_string(intl, f, true, 0), "Saturday 05 December 1998");
  EXPECT_EQ(storage::date_string(intl, f, true, 1), "Samedi 05 D\xE9" "cembre 1998");
  f.month = 2;
  EXPECT_EQ(storage::date_string(intl, f, true, 1), "Samedi 05 F\xE9vrier 1998");
}

TEST(DateStrings, Times) {
  Intl intl;
  DateFields f;
  f.hour = 15;
  f.minute = 4;
  f.second = 9;
  EXPECT_EQ(storage::time_string(intl, f, true), " 3:04:09 PM ");
  EXPECT_EQ(storage::time_string(intl, f, false), " 3:04 PM ");
  f.hour = 0;
  EXPECT_EQ(storage::time_string(intl, f, true), " 12:04:09 AM ");
  f.hour = 12;
  EXPECT_EQ(storage::time_string(intl, f, false), " 12:04 PM ");
  intl.time_24 = 1;
  intl.time_sep = ".";
  f.hour = 7;
  EXPECT_EQ(storage::time_string(intl, f, true), "07.04.09");
  EXPECT_EQ(storage::time_string(intl, f, false), "07.04");
}

class DateNatives : public NativeCallTest {};

TEST_F(DateNatives, RecordsAndClock) {
  TimeZone utc("UTC0");
  Value now = callv("get-time", {});
  ASSERT_TRUE(is_integer(now));
  int64_t calendar = int64_t(std::time(nullptr));
  EXPECT_LE(std::abs(int64_t(uint32_t(read_integer(now))) - storage::kClockOffset - calendar), 2);
  // In 32-bit arithmetic, as applications compute it.
  EXPECT_LE(std::abs(int32_t(uint32_t(read_integer(now)) - uint32_t(storage::kClockOffset)) - int32_t(calendar)), 2);

  Value record = list({fix(1998), fix(12), fix(5), fix(15), fix(4), fix(9)});
  Value seconds = callv("date->time", {record});
  EXPECT_EQ(text(callv("time->date", {seconds})), "(1998 12 5 15 4 9 7)");
  EXPECT_EQ(text(callv("iudatestring", {seconds, kNil})), "12/05/98");
  EXPECT_EQ(text(callv("iutimestring", {seconds, t()})), " 3:04:09 PM ");
  EXPECT_EQ(text(callv("iudatestring", {seconds, t()})), "Saturday 05 December 1998");
  EXPECT_EQ(text(callv("time->date", {callv("date->time", {list({fix(2000)})})})), "(2000 1 1 0 0 0 7)");
  EXPECT_EQ(callv("week-day", {list({fix(1998), fix(12), fix(5)})}), fix(7));
  EXPECT_EQ(text(callv("end-of-month", {list({fix(2000), fix(2), fix(10)})})), "(2000 2 29 0 0 0 3)");
  EXPECT_EQ(text(callv("end-of-month", {list({fix(1900), fix(2), fix(10)})})), "(1900 2 28 0 0 0 4)");
  EXPECT_EQ(callv("leap-year?", {fix(1500)}), t());
  EXPECT_TRUE(callv("leap-year?", {fix(1900)}).is_nil());
  EXPECT_EQ(text(callv("time->date", {fix(0)})), "(1904 1 1 5 0 0 6)");
  EXPECT_EQ(text(callv("time->date", {make_real(86400.0)})), "(1904 1 2 5 0 0 7)");
}

TEST_F(DateNatives, BadRecordsAreError2) {
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("week-day", {list({fix(1998), fix(13), fix(5)})}); }, &culprit), 2);
  EXPECT_EQ(culprit, "13");
  EXPECT_EQ(error_in([&] { callv("end-of-month", {list({fix(1998), fix(0)})}); }, &culprit), 2);
  EXPECT_EQ(culprit, "0");
  EXPECT_EQ(error_of([&] { callv("week-day", {kNil}); }), 2);
  EXPECT_EQ(error_of([&] { callv("date->time", {list({str("1998")})}); }), 2);
  EXPECT_EQ(error_of([&] { callv("date->time", {list({fix(2100)})}); }), 2);
  EXPECT_EQ(error_of([&] { callv("time->date", {str("0")}); }), 2);
  EXPECT_EQ(error_of([&] { callv("time->date", {make_real(-1.0)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("leap-year?", {kNil}); }), 2);
}

TEST_F(DateNatives, TicksAndSleep) {
  Value before = callv("tick-count", {});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(callv("sleep", {fix(3)}), kNoValue);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 50);
  Value after = callv("tick-count", {});
  EXPECT_GE(read_integer(after) - read_integer(before), 2);
  EXPECT_GE(read_integer(callv("milliseconds", {})), 50);
  EXPECT_EQ(callv("sleep", {fix(-5)}), kNoValue);
}

}  // namespace
}  // namespace core::testing
