// The dialog service of the windows, on Qt's message boxes and file dialogs.
#pragma once

#include <QString>
#include <string>

#include "common/dialog_service.h"

class QWidget;

namespace hx {

// What a message box shows: a text longer than kBoxTextLimit characters or
// kBoxLineLimit lines shows its first sentence (or line) in the box and the
// whole text under "Show Details…"; a shorter one shows it all, and
// `details` stays empty.
inline constexpr std::size_t kBoxTextLimit = 300;
inline constexpr int kBoxLineLimit = 6;
struct BoxText {
  std::string text;
  std::string details;
};
BoxText SplitBoxText(const std::string& text);

class QtDialogService : public DialogService {
 public:
  explicit QtDialogService(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }
  MsgAnswer Message(const MessageBoxRequest& request) override;
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> SaveFile(const FileDialogRequest& request) override;

  // "Desc (*.hex)|*.hex|All (*.*)|*.*" -> "Desc (*.hex);;All (*.*)".
  static QString QtFilter(const std::string& filter);

 private:
  QWidget* parent_;
};

}  // namespace hx
