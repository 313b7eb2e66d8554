#include "hydrix/mainscreen/firmware_launch.h"

#include <unistd.h>

namespace hx {

namespace {
const std::string kEnglish = "English";
const char* const kTitle = "Hydrix IP";
}  // namespace

std::string FlashtoolCommandTail(std::int32_t UsbID, const std::string& hexFile) {
  return "LANGUE=" + kEnglish + " ;device=arvel;USBID=" + std::to_string(UsbID) + ";prg=" + hexFile;
}

bool LanceMiseAJour(DialogService& dialogs, MessageSource& messages, ProcessStarter& starter,
                    const std::filesystem::path& folder, std::int32_t UsbID) {
  const std::string question =
      messages.LitMessage(kEnglish, "Etes vous sur de vouloir changer la version actuelle ? ", "");
  // No is the default and the Escape answer: a stray Enter must not start
  // an erase of the controller's program.
  if (dialogs.Message({question, kTitle, MsgButtons::YesNo, MsgIcon::Question, true}) != MsgAnswer::Yes)
    return false;

  FileDialogRequest request;
  request.title = messages.LitMessage(kEnglish, "Ouvrir Fichier HEX", "");
  request.filter = "INHEX32 Files (*.HEX)|*.HEX";
  const auto file = dialogs.OpenFile(request);
  if (!file || file->empty()) return false;

  const std::filesystem::path program = folder / "flashtool";
  std::string error;
  if (::access(program.c_str(), X_OK) != 0) {
    error = program.string() + " is missing or cannot be run";
  } else if (starter.Start(program, {FlashtoolCommandTail(UsbID, *file)}, error)) {
    return true;
  }
  dialogs.Message(
      {"The firmware update cannot start: " + error + ". Install flashtool next to hydrix, then try again.",
       kTitle, MsgButtons::Ok, MsgIcon::Critical});
  return false;
}

}  // namespace hx
