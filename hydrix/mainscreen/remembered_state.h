// What the main window remembers between runs, in an INI file of the user's
// configuration folder (hydrix.conf), never in config.xml. A missing or
// unreadable file gives the defaults; nothing here ever stops a start.
#pragma once

#include <QSettings>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace hx {

class RememberedState {
 public:
  // `file` empty: nothing is read or written (tests, and a home without a
  // configuration folder).
  explicit RememberedState(const std::filesystem::path& file);
  ~RememberedState();

  // The identifier of the controller chosen last, 0 when none.
  std::int32_t LastController() const;
  void SetLastController(std::int32_t id);

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace hx
