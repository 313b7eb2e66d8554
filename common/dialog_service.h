// The dialog service: every message box and file dialog of a window goes
// through it, so tests can answer them and record what was shown. The real
// service (qt_dialog_service.h) uses Qt; cores use this interface only.
#pragma once

#include <optional>
#include <string>

namespace hx {

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry };

struct MessageBoxRequest {
  std::string text;
  std::string title;
  MsgButtons buttons = MsgButtons::Ok;
  MsgIcon icon = MsgIcon::None;
  // A question whose safe answer is No: Enter and Escape answer No.
  bool defaultNo = false;
};

struct FileDialogRequest {
  std::string title;
  // Filter in the "Description (*.ext)|*.ext|All Files (*.*)|*.*" form.
  std::string filter;
  std::string initialFolder;
  std::string fileName;
  // A save dialog for a file that is appended to: it does not ask to
  // replace an existing file, and its button says "Append".
  bool append = false;
};

class DialogService {
 public:
  virtual ~DialogService() = default;
  // Shows a modal message box and returns the button pressed.
  virtual MsgAnswer Message(const MessageBoxRequest& request) = 0;
  // Asks for a file to open or to save; nothing when the user cancelled.
  virtual std::optional<std::string> OpenFile(const FileDialogRequest& request) = 0;
  virtual std::optional<std::string> SaveFile(const FileDialogRequest& request) = 0;
};

}  // namespace hx
