// The controller's date count: signed 32-bit seconds from 1 January 1970,
// local wall-clock time (no time zone, no daylight saving), with the
// controller's own calendar rule: from 29 February to 31 December of a leap
// year the count is one day more than the plain count, so 31 December of a
// leap year shares its count with 1 January of the next year.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hx {

// A local calendar date and time.
struct DateHeure {
  int annee = 1899;
  int mois = 12;
  int jour = 30;
  int heure = 0;
  int minute = 0;
  int seconde = 0;

  // The empty date-time: 30 December 1899, 00:00:00.
  static DateHeure Vide() { return {}; }
  // The PC's current local date and time.
  static DateHeure Maintenant();
  friend bool operator==(const DateHeure&, const DateHeure&) = default;
};

// The count of `date`, with hours, minutes and seconds taken from `heure`
// when given, else from `date`. A date before 31 December 1899 (the empty
// date-time included) and any date before 1970 give 0; a date past
// 19 January 2038 03:14:07 gives 2147483647.
std::int32_t DateVersSecondes(const DateHeure& date, std::optional<DateHeure> heure = std::nullopt);

// The date and time of a count, before the text is made (the inverse of the
// calendar rule above). Nothing for a negative or non-finite count.
std::optional<DateHeure> SecondesVersDate(double s);

// A count as text: the user's short date pattern, a blank, and "HH:mm:ss".
// A negative count shows "--"; a count that is not a number shows "".
std::string SecondesVersTexte(double s);

// The user's short date pattern (from LC_TIME), in the d/M/y pattern form
// ("dd/MM/yyyy", "MM/dd/yy"), at most 24 characters.
std::string FormatDateCourte();

// A strftime date format ("%d/%m/%Y") in the pattern form ("dd/MM/yyyy").
std::string PatternFromStrftime(const std::string& format);

// `when` formatted by a pattern of d, dd, ddd, dddd, M, MM, MMM, MMMM, y, yy,
// yyyy, H, HH, h, hh, m, mm, s, ss; text between single quotes and any
// other character are copied as they are.
std::string FormatDateHeure(const std::string& pattern, const DateHeure& when);

}  // namespace hx
