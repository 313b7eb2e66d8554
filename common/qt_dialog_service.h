// The dialog service of the windows, on Qt's message boxes and file dialogs.
#pragma once

#include <QString>

#include "common/dialog_service.h"

class QWidget;

namespace hx {

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
