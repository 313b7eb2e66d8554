#include "hydrix/config/date_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace hx {
namespace {

// The tests read dates back in a fixed pattern, whatever the user's locale.
class DateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("LC_ALL");
    saved_ = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("LC_ALL", "C", 1);
  }
  void TearDown() override {
    if (saved_) setenv("LC_ALL", saved_->c_str(), 1);
    else unsetenv("LC_ALL");
  }
  std::optional<std::string> saved_;
};

TEST_F(DateTest, CountsFollowTheControllersCalendarRule) {
  EXPECT_EQ(DateVersSecondes({1970, 1, 1, 0, 0, 0}), 0);
  EXPECT_EQ(DateVersSecondes({2009, 6, 15, 10, 20, 30}), 1245061230);
  EXPECT_EQ(DateVersSecondes({2008, 2, 28, 23, 59, 59}), 1204243199);
  EXPECT_EQ(DateVersSecondes({2008, 2, 29, 0, 0, 0}), 1204329600);  // one day more than the plain count
  EXPECT_EQ(DateVersSecondes({2008, 12, 31, 12, 0, 0}), 1230811200);
  EXPECT_EQ(DateVersSecondes({2009, 1, 1, 12, 0, 0}), 1230811200);
}

TEST_F(DateTest, TimeComesFromTheSecondArgumentWhenGiven) {
  EXPECT_EQ(DateVersSecondes({2009, 6, 15, 23, 0, 0}, DateHeure{1899, 12, 30, 10, 20, 30}), 1245061230);
}

TEST_F(DateTest, EdgesOfTheRange) {
  EXPECT_EQ(DateVersSecondes(DateHeure::Vide()), 0);
  EXPECT_EQ(DateVersSecondes({1899, 12, 30, 23, 59, 59}), 0);
  EXPECT_EQ(DateVersSecondes({1800, 1, 1, 0, 0, 0}), 0);
  EXPECT_EQ(DateVersSecondes({1960, 5, 1, 0, 0, 0}), 0);  // no negative count
  EXPECT_EQ(DateVersSecondes({2038, 1, 19, 3, 14, 7}), 2147483647);
  EXPECT_EQ(DateVersSecondes({2038, 1, 19, 3, 14, 8}), 2147483647);
  EXPECT_EQ(DateVersSecondes({2100, 7, 1, 0, 0, 0}), 2147483647);
  EXPECT_EQ(DateVersSecondes({2009, 2, 30, 0, 0, 0}), 0);  // not a date
}

TEST_F(DateTest, CountsReadBackAsTheirDate) {
  EXPECT_EQ(FormatDateCourte(), "MM/dd/yy");
  EXPECT_EQ(SecondesVersTexte(0), "01/01/70 00:00:00");
  EXPECT_EQ(SecondesVersTexte(1245061230), "06/15/09 10:20:30");
  EXPECT_EQ(SecondesVersTexte(1204329600), "02/29/08 00:00:00");
  EXPECT_EQ(SecondesVersTexte(1204243199), "02/28/08 23:59:59");
  EXPECT_EQ(SecondesVersTexte(1230811200), "01/01/09 12:00:00");
  EXPECT_EQ(SecondesVersTexte(2147483647), "01/19/38 03:14:07");
}

TEST_F(DateTest, RoundTripKeepsEveryDayButTheLastOfALeapYear) {
  for (int y : {1971, 1999, 2000, 2008, 2024, 2037}) {
    for (int m = 1; m <= 12; ++m) {
      for (int d : {1, 15, 28, 29, 30, 31}) {
        const DateHeure in{y, m, d, 13, 7, 59};
        const bool valid = std::chrono::year_month_day{std::chrono::year{y} / std::chrono::month{static_cast<unsigned>(m)} /
                                                       std::chrono::day{static_cast<unsigned>(d)}}
                               .ok();
        if (!valid) continue;
        const auto back = SecondesVersDate(DateVersSecondes(in));
        ASSERT_TRUE(back.has_value());
        if (m == 12 && d == 31 && std::chrono::year{y}.is_leap()) {
          EXPECT_EQ(*back, (DateHeure{y + 1, 1, 1, 13, 7, 59}));
        } else {
          EXPECT_EQ(*back, in) << y << "-" << m << "-" << d;
        }
      }
    }
  }
}

TEST_F(DateTest, NegativeAndInvalidCounts) {
  EXPECT_EQ(SecondesVersTexte(-1), "--");
  EXPECT_EQ(SecondesVersTexte(-2147483648.0), "--");
  EXPECT_EQ(SecondesVersTexte(std::nan("")), "");
  EXPECT_EQ(SecondesVersTexte(59.9), "01/01/70 00:00:59");
}

TEST(DatePatterns, StrftimeFormatsBecomePatterns) {
  EXPECT_EQ(PatternFromStrftime("%m/%d/%y"), "MM/dd/yy");
  EXPECT_EQ(PatternFromStrftime("%d/%m/%Y"), "dd/MM/yyyy");
  EXPECT_EQ(PatternFromStrftime("%d.%m.%Y"), "dd.MM.yyyy");
  EXPECT_EQ(PatternFromStrftime("%Y-%m-%d"), "yyyy-MM-dd");
  EXPECT_EQ(PatternFromStrftime("%F"), "yyyy-MM-dd");
  EXPECT_EQ(PatternFromStrftime("%e %b %Y"), "d MMM yyyy");
  EXPECT_EQ(PatternFromStrftime("%Y at %m"), "yyyy 'a''t' MM");
}

TEST(DatePatterns, PatternsFormatDates) {
  const DateHeure d{2009, 6, 5, 8, 4, 3};
  EXPECT_EQ(FormatDateHeure("dd/MM/yyyy HH:mm:ss", d), "05/06/2009 08:04:03");
  EXPECT_EQ(FormatDateHeure("d.M.yy H:m:s", d), "5.6.09 8:4:3");
  EXPECT_EQ(FormatDateHeure("'day' d", d), "day 5");
}

}  // namespace
}  // namespace hx
