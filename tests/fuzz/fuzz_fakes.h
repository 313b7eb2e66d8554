// Front-end stand-ins for harnesses: dialogs answer No or Cancel, nothing
// waits, messages are counted.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "common/dialog_service.h"
#include "common/sleeper.h"

namespace hx::fuzz {

class QuietDialogs : public DialogService {
 public:
  MsgAnswer Message(const MessageBoxRequest& request) override {
    ++messages;
    last = request.text;
    return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
  }
  std::optional<std::string> OpenFile(const FileDialogRequest&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const FileDialogRequest&) override { return std::nullopt; }
  int messages = 0;
  std::string last;
};

class NoSleep : public Sleeper {
 public:
  void Sleep(std::chrono::milliseconds) override {}
};

}  // namespace hx::fuzz
