#include "flashtool/batch.h"

#include <ostream>

namespace hx::flash {

void BatchUi::PrintLine(const std::string& line) { out_ << line << '\n' << std::flush; }

void BatchUi::SetStatus(const std::string& text) { out_ << text << '\n' << std::flush; }

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
             std::ostream& out, std::ostream& err, bool yes) {
  BatchUi ui(out);
  BatchDialogs dialogs(out, err, yes);
  FlashTool tool(env, library, ui, dialogs, clock);
  if (!tool.Form_Load(tail)) return kExitFailed;
  const RunEnd end = tool.Form_Activate();
  tool.Form_Unload();
  if (end != RunEnd::Completed) return kExitFailed;
  if (tool.Programmed() && !tool.ApplicationPresent()) return kExitFlashEmpty;
  return kExitCompleted;
}

ProgramArguments ParseProgramArguments(int argc, const char* const* argv) {
  ProgramArguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--batch") {
      a.batch = true;
    } else if (arg == "--yes") {
      a.yes = true;
    } else {
      if (!a.tail.empty()) a.tail += ' ';
      a.tail += arg;
    }
  }
  return a;
}

}  // namespace hx::flash
