#include "hydrix/cli/production_cli.h"

#include <algorithm>
#include <ostream>

#include "common/numbers.h"
#include "common/paths.h"
#include "hydrix/calibration/maintenance.h"
#include "hydrix/calibration/production_report.h"
#include "hydrix/calibration/serial_sequence.h"
#include "hydrix/config/captions.h"
#include "hydrix/config/config_file.h"
#include "hydrix/config/date_helpers.h"
#include "hydrix/settings/measures_codec.h"
#include "hydrix/settings/parameter_map.h"

namespace hx {

namespace {

int Fail(std::ostream& err, const HydrixDevice& device, const StepOutcome& outcome) {
  err << "hydrixctl: controller " << device.UsbID() << ": "
      << (outcome.why.empty() ? std::string("did not answer") : outcome.why) << "\n";
  return 1;
}

int Bad(std::ostream& err, const std::string& what) {
  err << "hydrixctl: " << what << " (see hydrixctl --help)\n";
  return 2;
}

// The report as the main window would write it for this controller, with
// the captions of `language`.
int Report(const std::vector<std::string>& words, HydrixDevice& device,
           const std::vector<std::string>& languages, std::ostream& out, std::ostream& err) {
  std::string log, order, comments, language = "English";
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (i + 1 >= words.size()) return Bad(err, w + " needs a value");
    const std::string& v = words[++i];
    if (w == "--log")
      log = v;
    else if (w == "--order")
      order = v;
    else if (w == "--comments")
      comments = v;
    else if (w == "--language")
      language = v;
    else
      return Bad(err, "unexpected '" + w + "'");
  }
  if (log.empty()) return Bad(err, "report needs --log FILE");
  if (order.empty()) {
    err << "hydrixctl: " << kOrderMissing << "\n";
    return 2;
  }
  if (const std::string problem = ReportFieldProblem(order, comments); !problem.empty()) {
    err << "hydrixctl: " << problem << "\n";
    return 2;
  }
  if (!languages.empty() && std::none_of(languages.begin(), languages.end(), [&](const std::string& name) {
        return LanguageNamesEqual(name, language);
      })) {
    std::string names;
    for (const auto& n : languages) names += (names.empty() ? "" : ", ") + n;
    err << "hydrixctl: the catalogue has no language '" << language << "'; its languages are: " << names
        << "\n";
    return 2;
  }
  if (!device.LitImage())
    return Fail(err, device, {false, "did not answer every read of its settings; nothing was appended"});
  if (auto implausible = device.ImageImplausible(); !implausible.empty())
    return Fail(err, device, {false, implausible + " Nothing was appended."});
  const ParameterTexts texts = DecodeParametres(device.ImageParams());
  auto& m = device.messages();
  auto named = [&](const char* control, const char* design) {
    return m.LitMessage(language, control, design);
  };
  auto fixed = [&](int index) { return m.LitMessage(language, FixedCaptionKey("Label1", index), ""); };
  const auto clock = device.LitValeurCorrection();
  ReportInput in;
  in.date = FormatDateHeure(FormatDateCourte(), DateHeure::Maintenant());
  in.orderCaption = "N° de Commande";
  in.order = order;
  in.comments = comments;
  in.versionCaption = named("LabelVersion", "Firmware Version");
  in.version = texts.at("firmware_version");
  in.serialCaption = fixed(20);
  in.serial = texts.at("serial_number");
  in.dateCaption = named("Label2", "Last Programming Date");
  in.programmingDate = texts.at("last_programming_date");
  in.clockCorrection = clock[0];
  in.clockValue = clock[1];
  in.startLowCaption = fixed(15);
  in.startLow = texts.at("start_level_low_battery_V");
  in.startHighCaption = fixed(14);
  in.startHigh = texts.at("start_level_high_battery_V");
  in.alarmCaption = named("LabelAlarmLevel", "Alarm Battery Level (V)");
  in.alarm = texts.at("alarm_level_V");
  in.pulseCaption = fixed(4);
  in.pulse = texts.at("solenoid_pulse_ms");
  in.forced1Caption = fixed(9);
  in.forced1 = texts.at("forced_charge_1_h");
  in.forced2Caption = fixed(10);
  in.forced2 = texts.at("forced_charge_2_h");
  in.capacityCaption = fixed(12);
  in.capacity = CapacityItems()[static_cast<std::size_t>(std::stoi(texts.at("battery_capacity_index")))];
  in.voltageCorrection = texts.at("voltage_correction");
  const std::string problem = AppendReport(log, ReportLines(in));
  if (!problem.empty()) {
    err << "hydrixctl: " << problem << "\n";
    return 1;
  }
  out << "report of controller " << device.UsbID() << " appended to " << log << "\n";
  return 0;
}

}  // namespace

bool IsProductionCommand(const std::string& verb) {
  return verb == "calibrate-voltage" || verb == "calibrate-clock" || verb == "fast-clock" ||
         verb == "serial" || verb == "report";
}

int RunProductionCommand(const std::vector<std::string>& words, HydrixDevice& device,
                         const std::vector<std::string>& languages, std::ostream& out, std::ostream& err) {
  const std::string& verb = words[0];
  if (verb == "report") return Report(words, device, languages, out, err);
  const bool force = verb == "calibrate-voltage" && words.size() == 3 && words[2] == "--force";
  if (words.size() != 2 && !force) return Bad(err, verb + " needs one value");
  const std::string& value = words[1];

  if (verb == "calibrate-voltage") {
    const auto volts = ParseNumberIn(value, kReferenceVolts.min, kReferenceVolts.max);
    if (!volts)
      return Bad(err, "the reference must be a number of volts from 0 to 65.535, not '" + value + "'");
    if (!force) {
      // A reference far from what the controller measures is a slip (volts
      // typed as tenths, another battery): refused unless --force.
      device.LitMesuresEtDate();
      if (!device.MeasuresWhole())
        return Fail(err, device, {false, "did not answer the measure read; nothing was sent"});
      if (const std::string why = NotAReading(device); !why.empty())
        return Fail(err, device, {false, why + " Nothing was sent."});
      const auto plan = PlanVoltageCalibration(device.LitMotValeur(0), 0, *volts);
      if (plan.farOff) {
        err << "hydrixctl: the reference " << FormatNumber(plan.referenceV, "0.000")
            << " V is more than 10 % away from the " << FormatNumber(plan.measuredV, "0.00")
            << " V controller " << device.UsbID()
            << " measures (--force calibrates anyway); nothing was sent\n";
        return 2;
      }
    }
    const StepOutcome o = CalibrateVoltage(device, *volts);
    if (!o.done) return Fail(err, device, o);
    out << "voltage_correction\t" << VoltageCorrectionText(device) << "\n";
    return 0;
  }
  if (verb == "calibrate-clock") {
    if (!ParseNumberIn(value, kClockValueBounds.min, kClockValueBounds.max))
      return Bad(err, "the clock value must be a number from 0 to 32 (nominal 16), not '" + value + "'");
    const std::int32_t N = ClockCorrectionNumber(value);
    const StepOutcome o = CalibrateClock(device, N);
    if (!o.done) return Fail(err, device, o);
    const auto shown = device.LitValeurCorrection();
    out << "clock_correction\t" << shown[0] << "\t" << shown[1] << "\n";
    return 0;
  }
  if (verb == "fast-clock") {
    if (value != "on" && value != "off") return Bad(err, "fast-clock takes on or off");
    const StepOutcome o = SetFastClock(device, value == "on");
    if (!o.done) return Fail(err, device, o);
    out << "fast clock " << value << "\n";
    return 0;
  }
  // serial: a number given, or --next, the one after the last written from
  // this machine.
  SerialSequence sequence(UserStateFolder());
  if (value == "--next") {
    const NextSerialOutcome o = ProgramNextSerial(device, sequence);
    if (o.written) out << "serial_number\t" << *o.written << "\n";
    if (o.done) return 0;
    if (o.written) {
      err << "hydrixctl: serial number " << *o.written << " was written to controller " << device.UsbID()
          << ", but not recorded as the last one: " << o.why << "\n";
    } else if (o.refused) {
      err << "hydrixctl: " << o.why << " Nothing was written.\n";
    } else {
      err << "hydrixctl: controller " << device.UsbID() << ": "
          << (o.why.empty() ? std::string("did not answer.") : o.why)
          << " The last serial number recorded is left as it was.\n";
    }
    return 1;
  }
  const SerialCheck check = CheckSerial(value);
  if (!check.value) {
    err << "hydrixctl: " << check.message << "\n";
    return 2;
  }
  const SerialWrite w = ProgramSerialRecorded(device, sequence, *check.value, true);
  if (!w.step.done) return Fail(err, device, w.step);
  out << "serial_number\t" << *check.value << "\n";
  // The serial is written: a state file that could not follow is told, and
  // the next --next refuses or proposes from what it holds.
  if (!w.notRecorded.empty())
    err << "hydrixctl: serial number " << *check.value << " was not recorded as the last one written: "
        << w.notRecorded << "\n";
  return 0;
}

}  // namespace hx
