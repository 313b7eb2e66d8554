// The production report: 24 lines that record what was set into a
// controller, appended to a log file chosen by the operator. The lines are
// built from what the main window shows (captions and values) as plain data,
// so the window and hydrixctl write the very same report.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace hx {

// What the report copies, as the main window shows it.
struct ReportInput {
  std::string date;          // today in the user's short date format
  std::string orderCaption;  // "N° de Commande"
  std::string order;
  std::string comments;
  std::string versionCaption, version;
  std::string serialCaption, serial;
  std::string dateCaption, programmingDate;
  std::string clockCorrection, clockValue;  // ValeurHorloge(0) and (1)
  std::string startLowCaption, startLow;
  std::string startHighCaption, startHigh;
  std::string alarmCaption, alarm;
  std::string pulseCaption, pulse;
  std::string forced1Caption, forced1;
  std::string forced2Caption, forced2;
  std::string capacityCaption, capacity;
  std::string voltageCorrection;
};

// The 24 lines, without line ends.
std::vector<std::string> ReportLines(const ReportInput& in);

// The log file name proposed for an order number: the number itself when it
// already holds ".log" (any case), else the number followed by ".log"; empty
// for an empty number.
std::string ProposedLogName(const std::string& order);

// Why the order number or the comments cannot go into the log, which is
// UTF-8 text read by people: a control character (the comments may hold
// tabs and line breaks) or bytes that are not UTF-8, with the field named.
// Empty when both can.
std::string ReportFieldProblem(const std::string& order, const std::string& comments);

// Appends the lines, each followed by a line end, in one write: either the
// whole report is added or the file is left as it was (a failed or short
// write is cut back to the old length, under an exclusive lock on the log
// that every station takes, so another station's report is never cut). A
// missing file is created; a device, a FIFO, a folder or a read-only file is
// refused untouched. Returns the reason of a failure (the message says "as
// it was before" only when the cut back succeeded), empty when the report
// was appended.
std::string AppendReport(const std::filesystem::path& file, const std::vector<std::string>& lines);

inline constexpr const char* kOrderMissing = "Vous devez saisir un N° de commande";

}  // namespace hx
