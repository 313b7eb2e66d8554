// The main window's maintenance frame: voltage and clock calibration, the
// fast clock check, serial number programming and the production report.
// It works on the widgets of the main form.
#pragma once

#include <QObject>

#include "hydrix/calibration/production_report.h"
#include "hydrix/mainscreen/frame_context.h"

namespace hx {

class LiveView;
class SettingsFrame;

class MaintenanceFrame : public QObject {
 public:
  MaintenanceFrame(FrameContext& context, LiveView& live, SettingsFrame& settings);

  // Shows the controller's clock correction.
  void ShowCorrection();
  // Puts the serial after the last one written from this machine in the
  // serial box; leaves the box as it is when there is none, and says why in
  // the status bar when the record cannot be read or has no next.
  void ProposeSerial();

  void Command_tension_Click();
  void CommandCalibrationCLK_Click();
  void CheckClockSpeed_Click();
  void Programmer_Click();
  void Rapport_Click();

 private:
  // What the production report copies from the window.
  ReportInput ReportFromScreen() const;

  FrameContext& ctx_;
  LiveView& live_;
  SettingsFrame& settings_;
};

}  // namespace hx
