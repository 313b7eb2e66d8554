// Controls by design name: an element of a control array carries the
// array's name and an integer "index" property; a plain control has none.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

namespace hx {

// The control `name` under `parent` (element `index` of a control array,
// -1 for a plain control), or nullptr.
template <class T>
T* FindControl(const QObject& parent, const QString& name, int index = -1) {
  for (T* c : parent.findChildren<T*>(name)) {
    const QVariant i = c->property("index");
    if ((index < 0 && !i.isValid()) || (index >= 0 && i.isValid() && i.toInt() == index)) return c;
  }
  return nullptr;
}

}  // namespace hx
