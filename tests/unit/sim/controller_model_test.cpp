#include "sim/controller_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "sim/sim_device.h"
#include "sim/sim_server.h"

namespace hx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Ask(ControllerModel& m, Bytes frame) {
  frame.resize(12, 0);
  auto a = m.Exchange(frame);
  return a ? *a : Bytes{};
}

int Word(const Eeprom& e, int a) { return static_cast<std::int16_t>(e[a] | (e[a + 1] << 8)); }

TEST(ControllerModel, FactoryImageIsConsistentWithTheIdentityAnswer) {
  ControllerModel m({42, 11, 1, 5});
  const Eeprom& e = m.eeprom();
  EXPECT_EQ(Word(e, 0), 3600);
  EXPECT_EQ(e[21], 0xAA);
  EXPECT_EQ(e[22], 0x55);
  EXPECT_EQ(e[26], 255);
  EXPECT_EQ(e[27], 255);
  EXPECT_GE(Word(e, 13), 5000);
  EXPECT_LE(Word(e, 15), 20000);
  EXPECT_EQ(Bytes(e.begin() + 124, e.begin() + 128), (Bytes{11, 1, 0, 5}));
  EXPECT_EQ(Ask(m, {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), (Bytes{0xF0, 1, 11, 5, 0}));
  ControllerModel other({43, 2, 2, 13});
  EXPECT_EQ(Ask(other, {0xF0}), (Bytes{0xF0, 2, 2, 3, 1}));
  EXPECT_EQ(Bytes(other.eeprom().begin() + 124, other.eeprom().begin() + 128), (Bytes{2, 2, 1, 3}));
}

TEST(ControllerModel, ReadsAndWritesEepromBytes) {
  ControllerModel m({1});
  EXPECT_EQ(Ask(m, {0xFF, 100, 0x5A}), (Bytes{0xFF, 0x5A}));
  EXPECT_EQ(Ask(m, {0xFE, 100, 0}), (Bytes{0xFE, 0x5A}));
  EXPECT_EQ(m.eeprom()[100], 0x5A);
  // The high address byte of a 256-byte EEPROM wraps.
  EXPECT_EQ(Ask(m, {0xFE, 100, 1}), (Bytes{0xFE, 0x5A}));
}

TEST(ControllerModel, ResetRestoresTheFactoryImageOnlyWithoutAValidityMark) {
  ControllerModel m({1});
  Ask(m, {0xFF, 0, 0x20});  // tempo low byte
  Ask(m, {0xFF, 40, 0x99});
  EXPECT_FALSE(m.Exchange(Bytes(12, 0)).has_value());  // a reset is not answered
  EXPECT_EQ(m.eeprom()[0], 0x20);
  Ask(m, {0xFF, 21, 0});
  Ask(m, {0xFF, 22, 0});
  m.Exchange(Bytes(12, 0));
  EXPECT_EQ(m.eeprom(), ControllerModel::FactoryImage({1}));
}

TEST(ControllerModel, ClockIsSetReadAndRunsOn) {
  ControllerModel m({1});
  EXPECT_EQ(Ask(m, {0x01, 2, 23, 59, 58, 31, 12, 24, 0}), (Bytes{0x01}));
  EXPECT_EQ(Ask(m, {0xF1}), (Bytes{0xF1, 31, 12, 24, 23, 59, 58}));
  m.Advance(std::chrono::milliseconds(2500));
  EXPECT_EQ(Ask(m, {0xF1}), (Bytes{0xF1, 1, 1, 25, 0, 0, 0}));
  // A set with impossible fields is answered but ignored.
  Ask(m, {0x01, 9, 25, 0, 0, 31, 2, 24, 0});
  EXPECT_EQ(Ask(m, {0xF1})[3], 25);
}

TEST(ControllerModel, TurbineChargesTheBatteryWhileTheSolenoidIsOn) {
  ControllerModel m({1});
  m.Advance(std::chrono::seconds(12));  // past the start delay
  auto word = [&m](int i) {
    const auto v = m.Variables();
    return static_cast<std::int16_t>(v[i] | (v[i + 1] << 8));
  };
  EXPECT_NE(word(var::kState), static_cast<int>(State::StartDelay));
  const auto answer = Ask(m, {0x04, 0, 1});
  EXPECT_EQ(answer.size(), 8u);
  EXPECT_EQ(answer[1], 1);
  EXPECT_EQ(word(var::kSolenoid), 1);
  const int before = word(var::kVoltage);
  m.Advance(std::chrono::seconds(10));
  EXPECT_GT(word(var::kCharging), 500);
  EXPECT_EQ(word(var::kNotCharging), 0);
  EXPECT_GT(word(var::kVoltage), before);
  Ask(m, {0x04, 0, 0});
  Ask(m, {0x04, 1, 1});
  m.Advance(std::chrono::seconds(1));
  EXPECT_EQ(word(var::kCharging), 0);
  EXPECT_GT(word(var::kDischarging), 100);
  EXPECT_EQ(word(var::kRelay), 1);
  for (int i = 0; i < 28; i += 2) EXPECT_EQ(Ask(m, {0xFC, static_cast<std::uint8_t>(i)})[1], m.Variables()[i]);
  EXPECT_EQ(Ask(m, {0xFC, 200}), (Bytes{0xFC, 0}));
}

TEST(ControllerModel, StartDelayCountsDownThenTheStateIsOneOfSix) {
  ControllerModel m({1});
  EXPECT_EQ(m.Variables()[var::kState], 1);
  EXPECT_EQ(m.Variables()[var::kDelayOnStart], 10);
  m.Advance(std::chrono::seconds(3));
  EXPECT_EQ(m.Variables()[var::kDelayOnStart], 7);
  for (int s = 0; s < 600; ++s) {
    m.Advance(std::chrono::seconds(1));
    const int state = m.Variables()[var::kState];
    ASSERT_GE(state, 1);
    ASSERT_LE(state, 6);
  }
}

TEST(ControllerModel, VoltageCalibrationMakesTheMeasureMatchTheReference) {
  ControllerModel m({1});
  m.SetTrueVoltage(12500);
  EXPECT_EQ(Ask(m, {0xF4, 0xD4, 0x30}), (Bytes{0xF4}));  // 12500 mV
  const auto v = m.Variables();
  EXPECT_EQ(v[0] | (v[1] << 8), 12500);
  EXPECT_EQ(Word(m.eeprom(), 2), 120);  // the raw measure read 120 mV low
}

TEST(ControllerModel, ClockSpeedModeIsKeptAndAnswered) {
  ControllerModel m({1});
  EXPECT_EQ(Ask(m, {0xF3, 1, 1}), (Bytes{0xF3, 1}));
  EXPECT_TRUE(m.FastClock());
  EXPECT_EQ(Ask(m, {0xF3, 0, 0}), (Bytes{0xF3, 1}));  // the read form changes nothing
  EXPECT_EQ(Ask(m, {0xF3, 1, 0}), (Bytes{0xF3, 0}));
  EXPECT_FALSE(m.Exchange(Bytes{0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).has_value());
}

struct SpecCase {
  const char* text;
  bool ok;
};

class SpecTest : public ::testing::TestWithParam<SpecCase> {};

TEST(ControllerModel, ASeedGivesAMovingInstallationThatRepeatsForTheSameSeed) {
  auto run = [](std::uint64_t seed) {
    ControllerModel m({1});
    m.SetSeed(seed);
    std::vector<std::array<std::uint8_t, var::kCount>> seconds;
    for (int s = 0; s < 6 * 3600; ++s) {
      m.Advance(std::chrono::seconds(1));
      seconds.push_back(m.Variables());
    }
    return seconds;
  };
  const auto a = run(7);
  EXPECT_EQ(a, run(7));
  EXPECT_NE(a, run(8));
  auto word = [](const std::array<std::uint8_t, var::kCount>& v, int i) {
    return static_cast<std::int16_t>(v[i] | (v[i + 1] << 8));
  };
  // Over six hours the turbine starts and stops, the battery goes up and
  // down, the temperature moves and the state changes.
  int starts = 0, stops = 0;
  std::set<int> states, temperatures;
  int lowest = 1 << 20, highest = 0;
  for (std::size_t s = 1; s < a.size(); ++s) {
    starts += word(a[s - 1], var::kSolenoid) == 0 && word(a[s], var::kSolenoid) == 1;
    stops += word(a[s - 1], var::kSolenoid) == 1 && word(a[s], var::kSolenoid) == 0;
    states.insert(word(a[s], var::kState));
    temperatures.insert(word(a[s], var::kTemperature));
    lowest = std::min<int>(lowest, word(a[s], var::kVoltage));
    highest = std::max<int>(highest, word(a[s], var::kVoltage));
    if (word(a[s], var::kSolenoid)) {
      EXPECT_GT(word(a[s], var::kCharging), 0);
    }
  }
  EXPECT_GE(starts, 1);
  EXPECT_GE(stops, 1);
  EXPECT_GE(states.size(), 3u);
  EXPECT_GE(temperatures.size(), 4u);
  EXPECT_GT(highest - lowest, 500);
}

TEST_P(SpecTest, Parses) {
  std::string error;
  EXPECT_EQ(ParseControllerSpec(GetParam().text, error).has_value(), GetParam().ok)
      << GetParam().text << ": " << error;
}

INSTANTIATE_TEST_SUITE_P(
    Specs, SpecTest,
                         ::testing::Values(SpecCase{"id=1", true}, SpecCase{"id=7,type=2,version=2.13", true},
                      SpecCase{"id=3,fault=after:5,latency=20", true}, SpecCase{"id=3,fault=silent", true},
                      SpecCase{"type=2", false}, SpecCase{"id=0", false}, SpecCase{"id=-1", false},
                                           SpecCase{"id=x", false}, SpecCase{"id=1,version=1", false},
                                           SpecCase{"id=1,version=1.100", false}, SpecCase{"id=1,type=256", false},
                                           SpecCase{"id=1,fault=loud", false}, SpecCase{"id=1,fault=after:", false},
                      SpecCase{"id=1,colour=red", false}, SpecCase{"id=1,latency=-3", false},
                      SpecCase{"id=1,seed=42", true}, SpecCase{"id=1,seed=-1", false}));

TEST(ControllerSpec, ReadsEveryField) {
  std::string error;
  auto s = ParseControllerSpec("id=7,type=2,version=2.13,fault=after:4,latency=30", error);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->identity.id, 7);
  EXPECT_EQ(s->identity.typeCode, 2);
  EXPECT_EQ(s->identity.major, 2);
  EXPECT_EQ(s->identity.minor, 13);
  EXPECT_EQ(s->faults.mode, Faults::Mode::After);
  EXPECT_EQ(s->faults.afterExchanges, 4);
  EXPECT_EQ(s->faults.latencyMs, 30);
}

TEST(SimDevice, FaultsShapeTheAnswers) {
  const auto now = std::chrono::steady_clock::now();
  const Bytes read{0xF1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ControllerSpec spec;
  spec.faults.mode = Faults::Mode::Silent;
  EXPECT_FALSE(SimDevice(spec, {}, now).Request(read, now));
  spec.faults.mode = Faults::Mode::Zeros;
  EXPECT_EQ(*SimDevice(spec, {}, now).Request(read, now), Bytes(7, 0));
  spec.faults.mode = Faults::Mode::Short;
  EXPECT_EQ(SimDevice(spec, {}, now).Request(read, now)->size(), 3u);
  spec.faults.mode = Faults::Mode::After;
  spec.faults.afterExchanges = 2;
  SimDevice after(spec, {}, now);
  EXPECT_TRUE(after.Request(read, now));
  EXPECT_TRUE(after.Request(read, now));
  EXPECT_FALSE(after.Request(read, now));
  EXPECT_FALSE(after.Request(read, now));
}

class StateFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("hydrix-sim-test-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

TEST_F(StateFolder, EepromSurvivesARestartAsARealOneWould) {
  const auto now = std::chrono::steady_clock::now();
  ControllerSpec spec;
  spec.identity.id = 12;
  {
    SimDevice d(spec, dir, now);
    EXPECT_TRUE(std::filesystem::exists(dir / "controller-12" / "eeprom.bin"));
    d.Request(Bytes{0xFF, 36, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0}, now);
  }
  SimDevice again(spec, dir, now);
  EXPECT_EQ(again.model().eeprom()[36], 0x77);
  EXPECT_EQ(std::filesystem::file_size(dir / "controller-12" / "eeprom.bin"), 256u);
}

TEST_F(StateFolder, ATruncatedOrInvalidFileGivesTheFactoryImage) {
  const auto now = std::chrono::steady_clock::now();
  ControllerSpec spec;
  spec.identity.id = 3;
  std::filesystem::create_directories(dir / "controller-3");
  std::ofstream(dir / "controller-3" / "eeprom.bin") << "short";
  SimDevice d(spec, dir, now);
  EXPECT_EQ(d.model().eeprom(), ControllerModel::FactoryImage(spec.identity));
  EXPECT_EQ(std::filesystem::file_size(dir / "controller-3" / "eeprom.bin"), 256u);
  // A saved image without its validity mark is restored at power-up.
  Eeprom blank{};
  std::ofstream(dir / "controller-3" / "eeprom.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(blank.data()), 256);
  SimDevice again(spec, dir, now);
  EXPECT_EQ(again.model().eeprom(), ControllerModel::FactoryImage(spec.identity));
}

TEST_F(StateFolder, ServerSetChecksEveryPairBeforeChangingAnything) {
  ControllerSpec spec;
  spec.identity.id = 5;
  SimServer server({spec}, dir);
  Status st{};
  EXPECT_FALSE(server.Set(5, "eeprom", {"16=0x42", "300=1"}, st).empty());
  EXPECT_EQ(st, Status::BadRequest);
  EXPECT_EQ(server.Dump(5, "eeprom", st).substr(0, 22), "0000: 10 0E 00 00 00 0");
  EXPECT_TRUE(server.Set(5, "eeprom", {"16=0x42", "17=7"}, st).empty());
  const std::string dump = server.Dump(5, "eeprom", st);
  EXPECT_NE(dump.find("0010: 42 07"), std::string::npos) << dump;
  EXPECT_TRUE(server.Set(5, "var", {"20=4"}, st).empty());
  EXPECT_NE(server.Dump(5, "variables", st).find("\n20 4\n"), std::string::npos);
  server.Dump(99, "eeprom", st);
  EXPECT_EQ(st, Status::NoSuchController);
  EXPECT_TRUE(server.Set(5, "fault", {"after:3"}, st).empty());
  EXPECT_FALSE(server.Set(5, "fault", {"sometimes"}, st).empty());
  // The change reached the state folder.
  std::ifstream in(dir / "controller-5" / "eeprom.bin", std::ios::binary);
  Bytes saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(saved.size(), 256u);
  EXPECT_EQ(saved[16], 0x42);
}

}  // namespace
}  // namespace hx::sim
