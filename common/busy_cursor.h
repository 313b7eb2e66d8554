// The hourglass while a long operation blocks the window; the previous
// pointer comes back when the object goes, whatever path leaves the scope.
#pragma once

#include <QApplication>

namespace hx {

class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace hx
