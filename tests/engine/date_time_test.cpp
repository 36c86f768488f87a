// Stored date text read into its fields: the stored form and its neighbours, which the general
// reading must still accept or refuse as before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "engine/date_time.h"

namespace rowflume::engine {
namespace {

struct DateCase {
  const char* text;
  bool valid;
  int year, month, day, hour, minute, second, nanos;
};

TEST(DateTimeText, StoredFormsReadIntoTheirFields) {
  const DateCase cases[] = {
      {"2017-07-14 02:40:37", true, 2017, 7, 14, 2, 40, 37, 0},
      {"2017-07-14T02:40:37", true, 2017, 7, 14, 2, 40, 37, 0},
      {"0001-01-01 00:00:00", true, 1, 1, 1, 0, 0, 0, 0},
      {"9999-12-31 23:59:59", true, 9999, 12, 31, 23, 59, 59, 0},
      {"2017-07-14", true, 2017, 7, 14, 0, 0, 0, 0},
      {"2017-07-14 02:40", true, 2017, 7, 14, 2, 40, 0, 0},
      {"2017-07-14 02:40:37.5", true, 2017, 7, 14, 2, 40, 37, 500000000},
      {"2017-7-14 02:40:37", true, 2017, 7, 14, 2, 40, 37, 0},
      {" 2017-07-14 02:40:37", true, 2017, 7, 14, 2, 40, 37, 0},
      {"2017-13-14 02:40:37", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-00-14 02:40:37", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-07-32 02:40:37", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-07-00 02:40:37", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-07-14 24:40:37", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-07-14 02:60:37", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-07-14 02:40:60", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-07-14 02:40:3x", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017-07-14x02:40:37", false, 0, 0, 0, 0, 0, 0, 0},
      {"2017/07/14 02:40:37", false, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const DateCase& c : cases) {
    DateTime moment;
    const bool valid = ParseDateTime(c.text, std::strlen(c.text), &moment);
    ASSERT_EQ(valid, c.valid) << c.text;
    if (!valid) continue;
    EXPECT_EQ(moment.year, c.year) << c.text;
    EXPECT_EQ(moment.month, c.month) << c.text;
    EXPECT_EQ(moment.day, c.day) << c.text;
    EXPECT_EQ(moment.hour, c.hour) << c.text;
    EXPECT_EQ(moment.minute, c.minute) << c.text;
    EXPECT_EQ(moment.second, c.second) << c.text;
    EXPECT_EQ(moment.nanos, c.nanos) << c.text;
    EXPECT_FALSE(moment.has_tz) << c.text;
  }
}

// The copy of stored text under the canonical model must be the text formatting the parsed value
// gives, and must decline (0) whatever it cannot copy plainly: each position that must be a digit
// is spoiled in turn, and each separator.
TEST(DateTimeText, CanonicalCopyAgreesWithFormatting) {
  DateFormat format;
  const char model[] = "YYYY-MM-DD HH24:MI:SS";
  ASSERT_TRUE(CompileDateFormat(model, sizeof model - 1, &format));
  ASSERT_EQ(format.canonical, DateFormat::kCanonicalDate);
  const std::string stored[] = {"2017-07-14 02:40:37", "2017-07-14T02:40:37", "2017-07-14",
                                "1999-12-31 23:59:59", "2017-07-14 02:40:37.25"};
  char copied[kDateTextMax];
  char formatted[kDateTextMax];
  for (const std::string& text : stored) {
    DateTime moment;
    ASSERT_TRUE(ParseDateTime(text.data(), text.size(), &moment)) << text;
    const size_t len = CopyCanonicalDateTime(format, text.data(), text.size(), 0, copied);
    ASSERT_EQ(std::string(copied, len),
              std::string(formatted, FormatDateTime(format, moment, 0, formatted)))
        << text;
    for (size_t at = 0; at < 19 && at < text.size(); ++at) {
      std::string spoiled = text;
      spoiled[at] = at == 4 || at == 7 ? '/' : (at == 10 || at == 13 || at == 16 ? '-' : ':');
      EXPECT_EQ(CopyCanonicalDateTime(format, spoiled.data(), spoiled.size(), 0, copied), 0u)
          << spoiled;
      // A separator in place of a digit is no date to the reading either.
      if (at != 4 && at != 7 && at != 10 && at != 13 && at != 16) {
        EXPECT_FALSE(ParseDateTime(spoiled.data(), spoiled.size(), &moment)) << spoiled;
      }
    }
  }
  for (const char* refused :
       {"2017-13-14 02:40:37", "2017-07-14 24:00:00", "2017-07-1", "2017-07-14 02:40:3\xb7",
        "\xb2"
        "017-07-14 02:40:37"}) {
    EXPECT_EQ(CopyCanonicalDateTime(format, refused, std::strlen(refused), 0, copied), 0u)
        << refused;
  }
}

// The wall time of an instant in another zone, against the standard library's calendar: every
// day of a 400-year cycle's worth of sample dates, across month, year and leap-day edges, in
// zones from -12:00 to +14:00, from UTC and from a stored offset.
TEST(DateTimeText, ShiftsToAZoneAsTheCalendarDoes) {
  using namespace std::chrono;
  const sys_days first = sys_days{year{1600} / January / 1};
  for (int day_idx = 0; day_idx < 146097 * 3; day_idx += 97) {
    const sys_days day = first + days{day_idx};
    for (int zone = -720; zone <= 840; zone += 195) {
      for (int stored = -570; stored <= 600; stored += 390) {
        const year_month_day date{day};
        DateTime value{static_cast<int>(date.year()),
                       static_cast<int>(unsigned{date.month()}),
                       static_cast<int>(unsigned{date.day()}),
                       23,
                       50,
                       7,
                       5,
                       stored,
                       true};
        const auto wall = day + hours{23} + minutes{50} - minutes{stored} + minutes{zone};
        const year_month_day want{floor<days>(wall)};
        const hh_mm_ss<minutes> time{floor<minutes>(wall - floor<days>(wall))};
        const DateTime got = ShiftedToZone(value, zone);
        ASSERT_EQ(got.year, static_cast<int>(want.year())) << day_idx << " " << zone;
        ASSERT_EQ(got.month, static_cast<int>(unsigned{want.month()})) << day_idx << " " << zone;
        ASSERT_EQ(got.day, static_cast<int>(unsigned{want.day()})) << day_idx << " " << zone;
        ASSERT_EQ(got.hour, time.hours().count()) << day_idx << " " << zone;
        ASSERT_EQ(got.minute, time.minutes().count()) << day_idx << " " << zone;
        ASSERT_EQ(got.second, 7);
        ASSERT_EQ(got.nanos, 5);
        ASSERT_EQ(got.tz_minutes, zone);
      }
    }
  }
  // Stored years skip 0: an hour west of the first instant of year 1 is in year -1.
  const DateTime got = ShiftedToZone(DateTime{1, 1, 1, 0, 30, 0, 0, 0, false}, -60);
  EXPECT_EQ(got.year, -1);
  EXPECT_EQ(got.month, 12);
  EXPECT_EQ(got.day, 31);
  EXPECT_EQ(got.hour, 23);
}

TEST(DateTimeText, SessionTimeZones) {
  const struct {
    const char* text;
    bool valid;
    int minutes;
  } cases[] = {
      {"+00:00", true, 0},
      {"-03:30", true, -210},
      {"5:45", true, 345},
      {" +14:00 ", true, 840},
      {"-12:00", true, -720},
      {"UTC", true, 0},
      {"gmt", true, 0},
      {"DBTIMEZONE", true, 0},
      {"+14:01", false, 0},
      {"-12:30", false, 0},
      {"+05:60", false, 0},
      {"+05", false, 0},
      {"Europe/Berlin", false, 0},
      {"", false, 0},
      {"+05:30x", false, 0},
  };
  for (const auto& c : cases) {
    int minutes = 99;
    ASSERT_EQ(ReadTimeZone(c.text, std::strlen(c.text), &minutes), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(minutes, c.minutes) << c.text;
    }
  }
}

}  // namespace
}  // namespace rowflume::engine
