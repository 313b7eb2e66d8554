// The production steps against a simulated controller in the same process:
// the frames sent, the EEPROM after the act, and the refusals.
#include "hydrix/calibration/maintenance.h"

#include <gtest/gtest.h>

#include "common/numbers.h"
#include "support/inprocess_usb.h"
#include "support/recording_dialog_service.h"

namespace hx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::Faults;

class NoSleep : public Sleeper {
 public:
  void Sleep(std::chrono::milliseconds) override {}
};

class MaintenanceTest : public ::testing::Test {
 protected:
  sim::SimDevice& Use(std::int32_t id, Faults f = {}) {
    auto& d = usb.Add(id, f);
    device.Choose(id);
    return d;
  }
  std::size_t EepromWrites(std::size_t from) const {
    std::size_t n = 0;
    for (std::size_t i = from; i < usb.writes.size(); ++i) n += usb.writes[i][0] == 0xFF;
    return n;
  }
  sim::InProcessUsb usb;
  CodeMessageSource messages;
  test::RecordingDialogService dialogs;
  NoSleep sleeper;
  HydrixDevice device{usb, messages, dialogs, sleeper};
};

TEST(ClockCorrection, FromTheMeasuredValue) {
  const std::pair<const char*, int> rows[] = {{"16.001", -16001}, {"15.999", 15999}, {"15.9995", 31999},
                                              {"15.9999", 0},     {"8", 1},          {"16", 0},
                                              {"0", 0},           {"x", 0},          {"15,999", 15999}};
  for (auto [text, n] : rows) EXPECT_EQ(ClockCorrectionNumber(text), n) << text;
}

TEST(Serial, WholeThirtyTwoBitNumbersOnly) {
  const std::pair<const char*, std::optional<std::int32_t>> rows[] = {
      {"123456", 123456},         {"2147483647", 2147483647}, {"-1", -1},          {"12.5", 12}, {"13.5", 14},
      {"-2147483648", INT32_MIN}, {"2147483648", {}},         {"-2147483649", {}}, {"", {}},     {"12A", {}}};
  for (auto [text, v] : rows) EXPECT_EQ(CheckSerial(text).value, v) << text;
  EXPECT_EQ(CheckSerial("2147483648").message, kSerialTooLarge);
  EXPECT_EQ(CheckSerial("-2147483649").message, kSerialTooLarge);
  EXPECT_EQ(CheckSerial("12A").message, kSerialNotValid);
}

TEST_F(MaintenanceTest, VoltageCalibrationSendsMillivoltsAndShowsTheNewCorrection) {
  Use(5);
  const std::size_t from = usb.writes.size();
  ASSERT_TRUE(CalibrateVoltage(device, 12.5).done);
  EXPECT_EQ(usb.writes[from], (Bytes{0xF4, 0xD4, 0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // The controller derived a correction from what it measures: the re-read shows it.
  EXPECT_EQ(VoltageCorrectionText(device), FormatNumber(device.LitMotParams(2) / 1000.0, "0.000"));
  EXPECT_NE(device.LitMotParams(2), 0);
  EXPECT_FALSE(CalibrateVoltage(device, 65.536).done);  // does not fit the frame
  EXPECT_FALSE(CalibrateVoltage(device, -1).done);
}

TEST_F(MaintenanceTest, VoltageCalibrationOnASilentControllerStopsAfterTheLinkSaysSo) {
  Use(5, {Faults::Mode::Silent});
  const StepOutcome o = CalibrateVoltage(device, 12);
  EXPECT_FALSE(o.done);
  EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{"Hydrix Absent"});
  EXPECT_EQ(usb.writes.size(), 1u);  // no re-read
}

TEST_F(MaintenanceTest, ClockCalibrationAndSerialStoreTheirBytesAndNothingElse) {
  auto& c = Use(5);
  const auto before = c.model().eeprom();
  ASSERT_TRUE(CalibrateClock(device, -16001).done);
  ASSERT_TRUE(ProgramSerial(device, 123456).done);
  auto expected = before;
  expected[81] = 0x7F, expected[82] = 0xC1;
  expected[36] = 0x40, expected[37] = 0xE2, expected[38] = 0x01, expected[39] = 0x00;
  EXPECT_EQ(c.model().eeprom(), expected);
  EXPECT_EQ(device.LitValeurCorrection()[0], "-16001");
}

TEST_F(MaintenanceTest, AReReadThatStopsPartWayWritesNothing) {
  Use(5, {Faults::Mode::After, 100});
  const std::size_t from = usb.writes.size();
  StepOutcome o = CalibrateClock(device, 100);
  EXPECT_FALSE(o.done);
  EXPECT_NE(o.why.find("did not complete"), std::string::npos) << o.why;
  o = ProgramSerial(device, 7);
  EXPECT_FALSE(o.done);
  EXPECT_EQ(EepromWrites(from), 0u);
}

TEST_F(MaintenanceTest, FastClockSendsTheBoxState) {
  Use(5);
  ASSERT_TRUE(SetFastClock(device, true).done);
  ASSERT_TRUE(SetFastClock(device, false).done);
  EXPECT_EQ(usb.writes[usb.writes.size() - 2], (Bytes{0xF3, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(usb.writes.back(), (Bytes{0xF3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace hx

namespace hx {
namespace {

TEST(Questions, AFarReferenceAndADifferentSerialAreAskedAbout) {
  const auto far = PlanVoltageCalibration(14500, 20, 1.27);
  EXPECT_TRUE(far.farOff);
  EXPECT_DOUBLE_EQ(far.correctionV, (1270 - 14480) / 1000.0);  // the controller's rule
  EXPECT_EQ(far.question,
            "The controller measures 14.50 V, and the reference 1.270 V is more than 10 % away from it. "
            "Calibrating stores a voltage correction of -13.210 (now 0.020). Calibrate anyway?");
  EXPECT_FALSE(PlanVoltageCalibration(14500, 0, 13.2).farOff);
  EXPECT_TRUE(PlanVoltageCalibration(0, 0, 1).farOff);

  EXPECT_EQ(SerialOverwriteQuestion(0, 123456), "");
  EXPECT_EQ(SerialOverwriteQuestion(123456, 123456), "");
  EXPECT_EQ(SerialOverwriteQuestion(24000005, 123456),
            "The controller already holds serial number 24000005. Write 123456 over it?");
}

}  // namespace
}  // namespace hx
