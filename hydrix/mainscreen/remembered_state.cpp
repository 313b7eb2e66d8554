#include "remembered_state.h"

#include <QCryptographicHash>

namespace hx {

RememberedState::RememberedState(const std::filesystem::path& file) : file_(file) {
  if (!file.empty())
    settings_ = std::make_unique<QSettings>(QString::fromStdString(file.string()), QSettings::IniFormat);
}

RememberedState::~RememberedState() = default;

QVariant RememberedState::Value(const QString& key) const {
  // A file that cannot be read or parsed gives the defaults.
  if (!settings_ || settings_->status() != QSettings::NoError) return {};
  return settings_->value(key);
}

void RememberedState::SetValue(const QString& key, const QVariant& value) {
  if (!settings_) return;
  settings_->setValue(key, value);
  settings_->sync();
}

std::int32_t RememberedState::LastController() const {
  bool ok = false;
  const int id = Value("controller/last").toInt(&ok);
  return ok ? id : 0;
}

void RememberedState::SetLastController(std::int32_t id) { SetValue("controller/last", id); }

QByteArray RememberedState::Geometry() const { return Value("window/geometry").toByteArray(); }

void RememberedState::SetGeometry(const QByteArray& geometry) { SetValue("window/geometry", geometry); }

namespace {
// One key per kind of dialog: a short hash of its filter.
QString FolderKey(const std::string& kind) {
  return "folders/" +
         QCryptographicHash::hash(QByteArray::fromStdString(kind), QCryptographicHash::Sha1).toHex().left(12);
}
}  // namespace

std::string RememberedState::Folder(const std::string& kind) const {
  return Value(FolderKey(kind)).toString().toStdString();
}

void RememberedState::SetFolder(const std::string& kind, const std::string& folder) {
  SetValue(FolderKey(kind), QString::fromStdString(folder));
}

QRect FitWithin(const QRect& frame, const QRect& available) {
  if (available.isEmpty()) return frame;
  QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
  if (fitted.right() > available.right()) fitted.moveRight(available.right());
  if (fitted.bottom() > available.bottom()) fitted.moveBottom(available.bottom());
  if (fitted.left() < available.left()) fitted.moveLeft(available.left());
  if (fitted.top() < available.top()) fitted.moveTop(available.top());
  return fitted;
}

FileDialogRequest RememberingDialogs::WithFolder(FileDialogRequest request) const {
  if (const std::string folder = state_.Folder(request.filter); !folder.empty())
    request.initialFolder = folder;
  return request;
}

std::optional<std::string> RememberingDialogs::Remember(const FileDialogRequest& request,
                                                        std::optional<std::string> file) {
  if (file && !file->empty()) {
    state_.SetFolder(request.filter, std::filesystem::path(*file).parent_path().string());
  }
  return file;
}

std::optional<std::string> RememberingDialogs::OpenFile(const FileDialogRequest& request) {
  return Remember(request, inner_.OpenFile(WithFolder(request)));
}

std::optional<std::string> RememberingDialogs::SaveFile(const FileDialogRequest& request) {
  return Remember(request, inner_.SaveFile(WithFolder(request)));
}

}  // namespace hx
