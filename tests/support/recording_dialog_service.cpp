#include "support/recording_dialog_service.h"

namespace hx::test {

MsgAnswer RecordingDialogService::Message(const MessageBoxRequest& request) {
  messages.push_back(request);
  if (whileOpen) whileOpen(request);
  if (!answers.empty()) {
    const MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : defaultAnswer;
}

std::optional<std::string> RecordingDialogService::OpenFile(const FileDialogRequest& request) {
  fileDialogs.push_back(request);
  if (files.empty()) return std::nullopt;
  auto f = files.front();
  files.pop_front();
  return f;
}

std::optional<std::string> RecordingDialogService::SaveFile(const FileDialogRequest& request) {
  return OpenFile(request);
}

std::vector<std::string> RecordingDialogService::Texts() const {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

}  // namespace hx::test
