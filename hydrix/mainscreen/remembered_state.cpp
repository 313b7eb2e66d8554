#include "remembered_state.h"

namespace hx {

RememberedState::RememberedState(const std::filesystem::path& file) {
  if (!file.empty())
    settings_ = std::make_unique<QSettings>(QString::fromStdString(file.string()), QSettings::IniFormat);
}

RememberedState::~RememberedState() = default;

std::int32_t RememberedState::LastController() const {
  if (!settings_) return 0;
  bool ok = false;
  const int id = settings_->value("controller/last", 0).toInt(&ok);
  return ok ? id : 0;
}

void RememberedState::SetLastController(std::int32_t id) {
  if (!settings_) return;
  settings_->setValue("controller/last", id);
  settings_->sync();
}

}  // namespace hx
