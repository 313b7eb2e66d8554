// "Firmware Update": after a confirmation and a HEX file dialog, flashtool
// is started from hydrix's folder as a separate process, without a shell,
// with one command tail that names the language, the product, the controller
// and the file. hydrix neither waits for it nor learns its result.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/dialog_service.h"
#include "hydrix/config/message_source.h"

namespace hx {

// Starts a program with arguments as a separate process, without waiting.
class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // False, with the reason in `error`, when the process could not start.
  virtual bool Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                     std::string& error) = 0;
};

// "LANGUE=English ;device=arvel;USBID=3;prg=/fw/a.hex": the file name as
// chosen, unquoted (flashtool splits its options on ";" only).
std::string FlashtoolCommandTail(std::int32_t UsbID, const std::string& hexFile);

// The whole launch: question, file dialog, start. `folder` is hydrix's own
// folder. Returns true when flashtool was started.
bool LanceMiseAJour(DialogService& dialogs, MessageSource& messages, ProcessStarter& starter,
                    const std::filesystem::path& folder, std::int32_t UsbID);

}  // namespace hx
