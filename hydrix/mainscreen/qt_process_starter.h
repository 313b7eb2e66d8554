// Starts a program as a detached process through Qt (no shell; the child is
// reaped by Qt, so nothing is left behind when it ends).
#pragma once

#include <QProcess>
#include <QStringList>

#include "hydrix/mainscreen/firmware_launch.h"

namespace hx {

class QtProcessStarter : public ProcessStarter {
 public:
  bool Start(const std::filesystem::path& program, const std::vector<std::string>& args,
             std::string& error) override {
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    if (QProcess::startDetached(QString::fromStdString(program.string()), list)) return true;
    error = program.string() + " could not be started";
    return false;
  }
};

}  // namespace hx
