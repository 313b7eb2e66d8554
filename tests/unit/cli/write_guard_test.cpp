// Every hydrixctl write of an image read earlier reads the controller again
// first: another unit put on the connection, or a setting changed by another
// program between the read and the write, and nothing is written. Run
// in-process against a simulated controller that is changed just before
// that second read.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "hydrix/cli/hydrixctl.h"
#include "support/inprocess_usb.h"

namespace hx {
namespace {

// Runs `change` on the controller when the image is read a second time:
// the third read of address 0 (LitImage reads every address twice).
class ChangingUsb : public sim::InProcessUsb {
 public:
  std::function<void(sim::Eeprom&)> change;
  sim::Eeprom afterChange{};
  bool WriteFile(std::int32_t handle, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t& written) override {
    if (length >= 3 && data[0] == 0xFE && data[1] == 0 && data[2] == 0 && ++reads0_ == 3 && change) {
      auto& eeprom = Find(5)->model().eeprom();
      change(eeprom);
      afterChange = eeprom;
    }
    return InProcessUsb::WriteFile(handle, data, length, written);
  }

 private:
  int reads0_ = 0;
};

struct Result {
  int status;
  std::string out, err;
};

Result Ctl(ChangingUsb& usb, std::vector<std::string> args) {
  std::ostringstream out, err;
  args.insert(args.begin(), {"--id", "5"});
  const int status = RunHydrixCtl(args, usb, out, err);
  return {status, out.str(), err.str()};
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(WriteGuard, AnotherUnitOrAChangedSettingIsNeverWrittenOver) {
  const auto profile = std::filesystem::temp_directory_path() / "write_guard_profile.txt";
  std::ofstream(profile) << "alarm_level_V = 11.2\n";
  const std::vector<std::vector<std::string>> commands = {
      {"settings", "set", "alarm_level_V=11.6"},
      {"settings", "import", profile.string()},
      {"calibrate-clock", "16.001"},
      {"serial", "123456"},
  };
  struct Change {
    const char* name;
    std::function<void(sim::Eeprom&)> apply;
    std::string first;  // of the refusal
  };
  const Change changes[] = {
      {"swapped unit",
       [](sim::Eeprom& e) {
         e[36] = 0x63, e[37] = 0x36, e[38] = 0x6E, e[39] = 0x01;  // 24000099
         e[2] = 0x10, e[81] = 0x20;                               // its own corrections
       },
       "Another controller (serial 24000099) now answers on this connection; read it first."},
      {"changed setting", [](sim::Eeprom& e) { e[26] = 5; },
       "The controller's settings changed since they were read; read them again."},
  };
  for (const auto& change : changes) {
    for (const auto& args : commands) {
      SCOPED_TRACE(std::string(change.name) + ": " + args[0] + " " + args[1]);
      ChangingUsb usb;
      usb.Add(5);
      usb.change = change.apply;
      const Result r = Ctl(usb, args);
      EXPECT_EQ(r.status, 1) << r.out << r.err;
      const std::string said = args[1] == "import" ? r.out : r.err;
      EXPECT_NE(FirstLine(said).find(change.first), std::string::npos) << said;
      EXPECT_EQ(usb.Find(5)->model().eeprom(), usb.afterChange);  // byte for byte
      for (const auto& w : usb.writes) EXPECT_NE(w[0], 0xFF) << "an EEPROM write was sent";
    }
  }
  std::filesystem::remove(profile);
}

// A change to a byte the write sets itself does not stop it: the command
// line's value wins, and the change of the other program to the bytes it
// does not set is kept.
TEST(WriteGuard, AChangeToTheBytesTheWriteSetsLetsItGoOn) {
  ChangingUsb usb;
  usb.Add(5);
  usb.change = [](sim::Eeprom& e) { e[81] = 7, e[82] = 0; };
  const Result r = Ctl(usb, {"calibrate-clock", "16.001"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto& e = usb.Find(5)->model().eeprom();
  EXPECT_EQ(e[81] | e[82] << 8, 0xC17F);  // -16001
}

}  // namespace
}  // namespace hx
