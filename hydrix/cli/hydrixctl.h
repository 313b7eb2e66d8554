// hydrixctl: the command-line front end over the hydrix core, for scripts
// and production lines.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "common/dialog_service.h"
#include "hydrix/link/usb_interface.h"

namespace hx {

// Message boxes of the core as lines: errors (boxes without an icon, or
// critical ones) on `err`, the rest on `out`, each prefixed "hydrixctl: ".
// Questions are answered No; no file dialog is offered.
class StreamDialogService : public DialogService {
 public:
  StreamDialogService(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  MsgAnswer Message(const MessageBoxRequest& request) override;
  std::optional<std::string> OpenFile(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const FileDialogRequest&) override { return std::nullopt; }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

// Runs hydrixctl with `args` (without the program name). The catalogue
// (config.xml next to the program, or --config PATH) gives the failure texts
// and answers the message and languages commands. Returns the exit status:
// 0 done, 1 no controller or it did not answer (or the catalogue could not
// be read or saved, for its own commands), 2 bad usage.
int RunHydrixCtl(std::vector<std::string> args, UsbInterface& usb, std::ostream& out, std::ostream& err);

extern const char* const kHydrixCtlUsage;

}  // namespace hx
