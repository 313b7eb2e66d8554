#include "hydrix/config/date_helpers.h"

#include <langinfo.h>
#include <locale.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

namespace hx {

namespace {

using std::chrono::day;
using std::chrono::days;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  return sys_days{year{y} / month{m} / day{d}}.time_since_epoch().count();
}

int DayOfYear(const DateHeure& d) {
  return static_cast<int>(DaysFromCivil(d.annee, static_cast<unsigned>(d.mois), static_cast<unsigned>(d.jour)) -
                          DaysFromCivil(d.annee, 1, 1)) +
         1;
}

std::string Two(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

locale_t UserTimeLocale() {
  locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

std::string LangInfo(nl_item item) {
  locale_t loc = UserTimeLocale();
  if (!loc) return {};
  std::string out = nl_langinfo_l(item, loc);
  freelocale(loc);
  return out;
}

}  // namespace

DateHeure DateHeure::Maintenant() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::int32_t DateVersSecondes(const DateHeure& date, std::optional<DateHeure> heure) {
  const year_month_day ymd{year{date.annee} / month{static_cast<unsigned>(date.mois)} /
                           day{static_cast<unsigned>(date.jour)}};
  if (date.annee > 2038) return std::numeric_limits<std::int32_t>::max();
  if (!ymd.ok()) return 0;
  if (sys_days{ymd} < sys_days{year{1899} / 12 / 31}) return 0;
  // Day of the year counted from 1 January 1970 (a common year), then moved
  // by whole calendar years keeping month and day.
  const sys_days b = sys_days{year{1970} / 1 / 1} + days{DayOfYear(date) - 1};
  const year_month_day bymd{b};
  const year_month_day c{bymd.year() + std::chrono::years{date.annee - 1970}, bymd.month(), bymd.day()};
  const DateHeure& t = heure ? *heure : date;
  const std::int64_t count = sys_days{c}.time_since_epoch().count() * kSecondsPerDay +
                             std::int64_t{t.heure} * 3600 + std::int64_t{t.minute} * 60 + t.seconde;
  if (count < 0) return 0;
  if (count > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(count);
}

std::optional<DateHeure> SecondesVersDate(double s) {
  if (!std::isfinite(s) || s < 0 || s > 1e15) return std::nullopt;
  const double totalMinutes = std::floor(s / 60.0);
  const auto secondes = static_cast<int>(s - 60.0 * totalMinutes);
  const auto tm = static_cast<std::int64_t>(totalMinutes);
  const int minutes = static_cast<int>(tm % 60);
  const std::int64_t totalHours = tm / 60;
  const int heures = static_cast<int>(totalHours % 24);
  const std::int64_t jours = totalHours / 24;
  sys_days d = sys_days{year{1970} / 1 / 1} + days{jours};
  year_month_day ymd{d};
  const int y = static_cast<int>(ymd.year());
  // The controller's leap-year rule: every year divisible by 4.
  if (y % 4 == 0 && d > sys_days{year{y} / 2 / 28}) {
    d -= days{1};
    ymd = year_month_day{d};
  }
  return DateHeure{static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                   static_cast<int>(static_cast<unsigned>(ymd.day())), heures, minutes, secondes};
}

std::string SecondesVersTexte(double s) {
  if (std::isnan(s)) return {};
  if (s < 0) return "--";
  const auto d = SecondesVersDate(s);
  if (!d) return {};
  return FormatDateHeure(FormatDateCourte() + " HH:mm:ss", *d);
}

std::string PatternFromStrftime(const std::string& format) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      // Letters that the pattern form reads as fields are quoted.
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        out += '\'';
        out += c;
        out += '\'';
      } else {
        out += c;
      }
      continue;
    }
    char f = format[++i];
    while ((f == '-' || f == '_' || f == '0' || f == 'E' || f == 'O') && i + 1 < format.size()) f = format[++i];
    switch (f) {
      case 'd': out += "dd"; break;
      case 'e': out += "d"; break;
      case 'm': out += "MM"; break;
      case 'y': out += "yy"; break;
      case 'Y': out += "yyyy"; break;
      case 'C': out += "yy"; break;
      case 'b':
      case 'h': out += "MMM"; break;
      case 'B': out += "MMMM"; break;
      case 'a': out += "ddd"; break;
      case 'A': out += "dddd"; break;
      case 'D': out += "MM/dd/yy"; break;
      case 'F': out += "yyyy-MM-dd"; break;
      case '%': out += '%'; break;
      default: break;  // fields that a date pattern cannot show are dropped
    }
  }
  return out;
}

std::string FormatDateCourte() {
  std::string pattern = PatternFromStrftime(LangInfo(D_FMT));
  if (pattern.empty()) pattern = "dd/MM/yyyy";
  if (pattern.size() > 24) pattern.resize(24);
  return pattern;
}

std::string FormatDateHeure(const std::string& pattern, const DateHeure& when) {
  auto name = [](nl_item base, int index) { return LangInfo(static_cast<nl_item>(base + index)); };
  std::string out;
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    if (c == '\'') {
      const auto end = pattern.find('\'', i + 1);
      out += pattern.substr(i + 1, (end == std::string::npos ? pattern.size() : end) - i - 1);
      i = end == std::string::npos ? pattern.size() : end + 1;
      continue;
    }
    std::size_t n = 1;
    while (i + n < pattern.size() && pattern[i + n] == c) ++n;
    const sys_days sd{year{when.annee} / month{static_cast<unsigned>(when.mois)} /
                      day{static_cast<unsigned>(when.jour)}};
    const int weekday = static_cast<int>(std::chrono::weekday{sd}.c_encoding());
    switch (c) {
      case 'd':
        if (n == 1) out += std::to_string(when.jour);
        else if (n == 2) out += Two(when.jour);
        else if (n == 3) out += name(ABDAY_1, weekday);
        else out += name(DAY_1, weekday);
        break;
      case 'M':
        if (n == 1) out += std::to_string(when.mois);
        else if (n == 2) out += Two(when.mois);
        else if (n == 3) out += name(ABMON_1, when.mois - 1);
        else out += name(MON_1, when.mois - 1);
        break;
      case 'y':
        if (n <= 2) out += (n == 1 ? std::to_string(when.annee % 100) : Two(when.annee % 100));
        else out += std::to_string(when.annee);
        break;
      case 'H': out += n == 1 ? std::to_string(when.heure) : Two(when.heure); break;
      case 'h': {
        const int h12 = when.heure % 12 == 0 ? 12 : when.heure % 12;
        out += n == 1 ? std::to_string(h12) : Two(h12);
        break;
      }
      case 'm': out += n == 1 ? std::to_string(when.minute) : Two(when.minute); break;
      case 's': out += n == 1 ? std::to_string(when.seconde) : Two(when.seconde); break;
      default: out.append(n, c); break;
    }
    i += n;
  }
  return out;
}

}  // namespace hx
