// What the main window remembers between runs, in an INI file of the user's
// configuration folder (hydrix.conf), never in config.xml: the window's
// geometry, the last folder of each kind of file dialog and the last
// controller chosen. A missing or unreadable file gives the defaults;
// nothing here ever stops a start.
#pragma once

#include <QByteArray>
#include <QRect>
#include <QSettings>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "common/dialog_service.h"

namespace hx {

class RememberedState {
 public:
  // `file` empty: nothing is read or written (tests, and a home without a
  // configuration folder).
  explicit RememberedState(const std::filesystem::path& file);
  ~RememberedState();

  const std::filesystem::path& File() const { return file_; }

  // The identifier of the controller chosen last, 0 when none.
  std::int32_t LastController() const;
  void SetLastController(std::int32_t id);

  // The main window's geometry as QWidget::saveGeometry gives it; empty
  // when none was kept.
  QByteArray Geometry() const;
  void SetGeometry(const QByteArray& geometry);

  // The last folder of the file dialogs of one kind (their filter), or "".
  std::string Folder(const std::string& kind) const;
  void SetFolder(const std::string& kind, const std::string& folder);

 private:
  QVariant Value(const QString& key) const;
  void SetValue(const QString& key, const QVariant& value);
  std::filesystem::path file_;
  std::unique_ptr<QSettings> settings_;
};

// A window's frame brought within a screen's available area: no larger
// than the area, and moved onto it where it lies partly or wholly off it.
QRect FitWithin(const QRect& frame, const QRect& available);

// A dialog service that opens each kind of file dialog (told apart by its
// filter) in the folder chosen last time, and remembers the folder chosen.
class RememberingDialogs : public DialogService {
 public:
  RememberingDialogs(DialogService& inner, RememberedState& state) : inner_(inner), state_(state) {}
  MsgAnswer Message(const MessageBoxRequest& request) override { return inner_.Message(request); }
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override;
  std::optional<std::string> SaveFile(const FileDialogRequest& request) override;

 private:
  FileDialogRequest WithFolder(FileDialogRequest request) const;
  std::optional<std::string> Remember(const FileDialogRequest& request, std::optional<std::string> file);
  DialogService& inner_;
  RememberedState& state_;
};

}  // namespace hx
