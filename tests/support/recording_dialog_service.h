// A dialog service for tests: records every message box and file dialog and
// answers them from scripted queues (or with defaults).
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/dialog_service.h"

namespace hx::test {

class RecordingDialogService : public DialogService {
 public:
  MsgAnswer Message(const MessageBoxRequest& request) override;
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> SaveFile(const FileDialogRequest& request) override;

  // Answers given in order; when empty, Ok for an OK box, else defaultAnswer.
  std::deque<MsgAnswer> answers;
  MsgAnswer defaultAnswer = MsgAnswer::No;
  // Files given in order; when empty, the dialog is cancelled.
  std::deque<std::optional<std::string>> files;

  // Runs while each message box is open, before it is answered.
  std::function<void(const MessageBoxRequest&)> whileOpen;

  std::vector<MessageBoxRequest> messages;
  std::vector<FileDialogRequest> fileDialogs;

  // The texts of the message boxes shown, in order.
  std::vector<std::string> Texts() const;
};

}  // namespace hx::test
