// The hourglass while a long operation blocks the window; the previous
// pointer comes back when the object goes, whatever path leaves the scope.
#pragma once

#include <QApplication>
#include <QCursor>
#include <vector>

#include "common/dialog_service.h"

namespace hx {

class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// A dialog service that shows every message box and file dialog with the
// normal pointer: the hourglass of a long operation is lifted while the
// operator reads or chooses, and put back afterwards.
class IdleCursorDialogs : public DialogService {
 public:
  explicit IdleCursorDialogs(DialogService& inner) : inner_(inner) {}
  MsgAnswer Message(const MessageBoxRequest& request) override {
    Lift lift;
    return inner_.Message(request);
  }
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override {
    Lift lift;
    return inner_.OpenFile(request);
  }
  std::optional<std::string> SaveFile(const FileDialogRequest& request) override {
    Lift lift;
    return inner_.SaveFile(request);
  }

 private:
  // Takes every override pointer off for its lifetime.
  struct Lift {
    std::vector<QCursor> saved;
    Lift() {
      while (const QCursor* c = QApplication::overrideCursor()) {
        saved.push_back(*c);
        QApplication::restoreOverrideCursor();
      }
    }
    ~Lift() {
      for (auto it = saved.rbegin(); it != saved.rend(); ++it) QApplication::setOverrideCursor(*it);
    }
    Lift(const Lift&) = delete;
    Lift& operator=(const Lift&) = delete;
  };
  DialogService& inner_;
};

}  // namespace hx
