// Whether a message box or dialog of the main window is open. The
// one-second tick does nothing while one is: a tick run from inside a box
// would exchange frames behind the operator's back, and a failure there
// would stack a second box on the first. Reading goes on once it closes.
#pragma once

#include <optional>
#include <string>

#include "common/dialog_service.h"

namespace hx {

class ModalCount {
 public:
  bool Open() const { return depth_ > 0; }

  // Counts a box or dialog as open for its lifetime.
  class Scope {
   public:
    explicit Scope(ModalCount& count) : count_(count) { ++count_.depth_; }
    ~Scope() { --count_.depth_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ModalCount& count_;
  };

 private:
  int depth_ = 0;
};

// A dialog service that counts every box and file dialog it shows as open.
class CountedDialogs : public DialogService {
 public:
  CountedDialogs(DialogService& inner, ModalCount& count) : inner_(inner), count_(count) {}
  MsgAnswer Message(const MessageBoxRequest& request) override {
    const ModalCount::Scope open(count_);
    return inner_.Message(request);
  }
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override {
    const ModalCount::Scope open(count_);
    return inner_.OpenFile(request);
  }
  std::optional<std::string> SaveFile(const FileDialogRequest& request) override {
    const ModalCount::Scope open(count_);
    return inner_.SaveFile(request);
  }

 private:
  DialogService& inner_;
  ModalCount& count_;
};

}  // namespace hx
