#include "flashtool/batch.h"

#include <filesystem>
#include <ostream>

#include "common/shown_text.h"

namespace hx::flash {

void BatchUi::PrintLine(const std::string& line) { out_ << line << '\n' << std::flush; }

void BatchUi::SetStatus(const std::string& text) {
  // The window's French loading status says nothing the log line of the
  // checked file does not say better.
  if (text == "Chargement du fichier en cours ...") return;
  out_ << text << '\n' << std::flush;
}

void BatchUi::Log(const std::string& line) { out_ << line << '\n' << std::flush; }

void BatchUi::ShowRawBytes(const std::string& hex) { out_ << hex << '\n' << std::flush; }

MsgAnswer BatchDialogs::Message(const MessageBoxRequest& request) {
  out_ << request.text << '\n' << std::flush;
  switch (request.buttons) {
    case MsgButtons::Ok:
      return MsgAnswer::Ok;
    case MsgButtons::OkCancel:
      return yes_ ? MsgAnswer::Ok : MsgAnswer::Cancel;
    case MsgButtons::RetryCancel:
      return MsgAnswer::Cancel;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
      return yes_ ? MsgAnswer::Yes : MsgAnswer::No;
  }
  return MsgAnswer::No;
}

std::optional<std::string> BatchDialogs::OpenFile(const FileDialogRequest& request) {
  err_ << request.title << ": no file dialog in batch mode; name the file with prg=PATH\n" << std::flush;
  return std::nullopt;
}

std::optional<std::string> BatchDialogs::SaveFile(const FileDialogRequest& request) {
  return OpenFile(request);
}

int RunBatch(const std::string& tail, const FlashEnvironment& env, BootLibrary& library, FlashClock& clock,
             std::ostream& out, std::ostream& err, bool yes, IdentityProbe* probe) {
  BatchUi ui(out);
  BatchDialogs dialogs(out, err, yes);
  FlashTool tool(env, library, ui, dialogs, clock);
  tool.SetSerialProbe(probe);
  const bool loaded = tool.Form_Load(tail);
  RunEnd end = RunEnd::Failed;
  if (loaded) {
    end = tool.Form_Activate();
    tool.Form_Unload();
  }
  const RunOutcome outcome = tool.Outcome(loaded, end);
  // A history that cannot be written does not change how the run ended.
  if (const std::string why = tool.RecordHistory(outcome); !why.empty()) err << "flashtool: " << why << '\n';
  out << outcome.Line() << '\n' << std::flush;
  return outcome.exit;
}

std::string HelpText() {
  std::string text =
      "usage: flashtool TAIL                 run in a window\n"
      "       flashtool --choose [TAIL]       choose the controller, product and HEX file in the window\n"
      "       flashtool --batch TAIL [--yes] run without a window (questions answered No unless --yes)\n"
      "       flashtool --history [N]         the last N runs of the firmware history (20 unless N is given)\n"
      "       flashtool --help | --version\n\n";
  for (const auto& line : UsageLines()) text += line + "\n";
  return text;
}

std::string NoDisplayReason(const std::function<const char*(const char*)>& getenv,
                            const std::vector<std::string>& pluginFolders) {
  auto set = [&](const char* name) {
    const char* v = getenv(name);
    return v && *v;
  };
  std::string platform = set("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "";
  platform = platform.substr(0, platform.find(':'));
  if (platform.empty()) {
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
      return "no display (DISPLAY is not set); use --batch to run without a window";
    }
    return {};
  }
  if (platform == "xcb" && !set("DISPLAY")) {
    return "no display (DISPLAY is not set); use --batch to run without a window";
  }
  if (platform.rfind("wayland", 0) == 0 && !set("WAYLAND_DISPLAY")) {
    return "no display (WAYLAND_DISPLAY is not set); use --batch to run without a window";
  }
  for (const auto& folder : pluginFolders) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::path(folder) / ("libq" + platform + ".so"), ec)) return {};
  }
  return "no window platform \"" + platform + "\" (QT_QPA_PLATFORM); use --batch to run without a window";
}

ProgramArguments ParseProgramArguments(int argc, const char* const* argv) {
  ProgramArguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--batch") {
      a.batch = true;
    } else if (arg == "--choose") {
      a.choose = true;
    } else if (arg == "--yes") {
      a.yes = true;
    } else if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg == "--version") {
      a.version = true;
    } else if (arg == "--history") {
      a.history = true;
      // The next argument, when there is one, is the number of lines.
      if (i + 1 < argc) {
        const std::string n = argv[++i];
        long count = 0;
        if (!ParseInteger(n, 0, kHistoryMaxCount, count)) {
          a.error = "--history takes a number of lines from 0 to " + std::to_string(kHistoryMaxCount) +
                    ", not \"" + ShownText(n) + "\"";
        }
        a.historyCount = static_cast<int>(count);
      }
    } else {
      if (!a.tail.empty()) a.tail += ' ';
      a.tail += arg;
    }
  }
  return a;
}

}  // namespace hx::flash
