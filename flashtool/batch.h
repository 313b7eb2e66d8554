// The batch front end for production lines: no window; every status text
// and message goes to standard output on its own line; questions are
// answered No unless `yes`. The exit status is 0 only when the run reached
// its normal end (see RunBatch).
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "common/dialog_service.h"
#include "flashtool/flash_run.h"

namespace hx::flash {

class BatchUi : public FlashUi {
 public:
  explicit BatchUi(std::ostream& out) : out_(out) {}
  void PrintLine(const std::string& line) override;
  void SetStatus(const std::string& text) override;
  void ShowProgress() override {}
  void SetProgressRange(int, int) override {}
  void SetProgressValue(int) override {}
  void DoEvents() override {}
  void ShowRawBytes(const std::string& hex) override;
  // Log lines carry the figures (bytes, percentages, CRC-32).
  void Log(const std::string& line) override;

 private:
  std::ostream& out_;
};

class BatchDialogs : public DialogService {
 public:
  BatchDialogs(std::ostream& out, std::ostream& err, bool yes) : out_(out), err_(err), yes_(yes) {}
  MsgAnswer Message(const MessageBoxRequest& request) override;
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> SaveFile(const FileDialogRequest& request) override;

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool yes_;
};

// Runs Form_Load and Form_Activate on `tail`, then appends the run to the
// firmware history (a history that cannot be written is said on `err` and
// in the output, and changes nothing else). The serial number is read
// through `probe` when given. The last line always says how the run ended:
// "Result: completed (exit 0)", "Result: failed (exit 1)" or "Result: no
// application after programming (exit 2)".
int RunBatch(const std::string& tail, const FlashEnvironment& env, BootLibrary& library, FlashClock& clock,
             std::ostream& out, std::ostream& err, bool yes, IdentityProbe* probe = nullptr);

// The most lines `--history N` shows.
inline constexpr long kHistoryMaxCount = 1'000'000;

// The command tail from the program's arguments: the arguments joined with
// blanks. `--batch`, `--yes`, `--choose`, `--help`, `--version` and
// `--history [N]` are taken out (and reported) first.
struct ProgramArguments {
  bool batch = false;
  bool choose = false;  // the window opens as a form; the tail fills it
  bool yes = false;
  bool help = false;
  bool version = false;
  bool history = false;  // print the last historyCount lines of the firmware history
  int historyCount = kHistoryDefaultCount;
  std::string error;  // a program option used wrongly: the usage error to print
  std::string tail;
};
ProgramArguments ParseProgramArguments(int argc, const char* const* argv);

// The text of --help: the command tail's options and the program's own.
std::string HelpText();

// Why the window cannot open, in one line, or "" when it can: no display for
// the platform Qt will use (QT_QPA_PLATFORM, else X11 or Wayland), or no
// plugin for the platform named. `getenv` reads the environment;
// `pluginFolders` are where Qt looks for platform plugins.
std::string NoDisplayReason(const std::function<const char*(const char*)>& getenv,
                            const std::vector<std::string>& pluginFolders);

}  // namespace hx::flash
