// The captions a window's layout cut: every visible label (one line),
// check box and button under `root` that is narrower than its text asks.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

namespace hx::test {

// "name "text" width < asked" for each, none when every caption is whole.
std::vector<std::string> CutCaptions(const QWidget& root);

}  // namespace hx::test
