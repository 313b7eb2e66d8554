// The monitor's readings against in-process simulated controllers: found by
// serial, offline when silent or answering zeros, found again on another
// connection, never a frame that writes; the JSON of a reading, the
// discovery configurations and the bounded queue.
#include "hydrix/monitor/monitor_reader.h"

#include <gtest/gtest.h>

#include "hydrix/commands/frames.h"
#include "hydrix/monitor/monitor_payloads.h"
#include "hydrix/monitor/publish_queue.h"
#include "support/inprocess_usb.h"

namespace hx {
namespace {

using Kind = ControllerEvent::Kind;

std::vector<std::pair<Kind, std::string>> Events(const PeriodResult& r) {
  std::vector<std::pair<Kind, std::string>> out;
  for (const auto& e : r.events)
    out.emplace_back(e.kind, e.controller.serial + "@" + std::to_string(e.controller.id));
  return out;
}

TEST(MonitorReader, FollowsControllersBySerialAndNeverWrites) {
  sim::InProcessUsb usb;
  usb.Add(5);
  usb.Add(6);
  sim::ControllerSpec other;
  other.identity = {8, 4, 2, 10};  // another product: not watched
  usb.Add(other);
  MonitorReader reader(usb, {});

  PeriodResult r = reader.Period();
  EXPECT_EQ(Events(r), (std::vector<std::pair<Kind, std::string>>{{Kind::Found, "24000005@5"},
                                                                  {Kind::Found, "24000006@6"}}));
  ASSERT_EQ(r.readings.size(), 2u);
  EXPECT_EQ(r.readings[0].serial, "24000005");
  const auto& c = reader.controllers()[0];
  EXPECT_EQ(c.type, "Hydrix");
  EXPECT_EQ(c.firmware, "1.05");
  // The block read is the simulator's: a battery voltage of a 12 V battery.
  EXPECT_GT(MeasureWord(r.readings[0].block, 0), 10000);
  EXPECT_LT(MeasureWord(r.readings[0].block, 0), 16000);

  // Silent: offline once, and no reading; zeros are no reading either.
  usb.Find(5)->faults().mode = sim::Faults::Mode::Silent;
  usb.Find(6)->faults().mode = sim::Faults::Mode::Zeros;
  r = reader.Period();
  ASSERT_EQ(Events(r), (std::vector<std::pair<Kind, std::string>>{{Kind::Offline, "24000005@5"},
                                                                  {Kind::Offline, "24000006@6"}}));
  EXPECT_NE(r.events[0].detail.find("did not answer"), std::string::npos) << r.events[0].detail;
  EXPECT_NE(r.events[1].detail.find("not a reading"), std::string::npos) << r.events[1].detail;
  EXPECT_TRUE(r.readings.empty());
  r = reader.Period();
  EXPECT_TRUE(r.events.empty());
  EXPECT_TRUE(r.readings.empty());

  // Controller 24000005 is plugged into another port: found by its serial.
  auto& moved = usb.Add(9);
  for (int i = 0; i < 4; ++i)
    moved.model().eeprom()[36u + i] = static_cast<std::uint8_t>(24000005u >> (8 * i));
  usb.Find(6)->faults().mode = sim::Faults::Mode::None;
  r = reader.Period();
  EXPECT_EQ(Events(r), (std::vector<std::pair<Kind, std::string>>{{Kind::Online, "24000006@6"},
                                                                  {Kind::Online, "24000005@9"}}));
  EXPECT_EQ(r.readings.size(), 2u);

  // Only the identity probe, the serial's EEPROM reads, the measures and
  // the clock ever went out.
  for (const auto& frame : usb.writes) {
    const std::uint8_t code = frame.at(0);
    EXPECT_TRUE(code == cmd::kIdentity || code == cmd::kReadEeprom || code == cmd::kReadVariable ||
                code == cmd::kReadClock)
        << int(code);
  }

  // A list of identifiers: only those; one not there, or silent, is said
  // once and found when it comes.
  MonitorReader listed(usb, {6, 8, 5, 12});
  r = listed.Period();
  EXPECT_EQ(Events(r), (std::vector<std::pair<Kind, std::string>>{{Kind::Found, "24000006@6"}}));
  EXPECT_EQ(r.notes,
            (std::vector<std::string>{"controller 8 is a Belmo, not a Hydrix: its measures are not read",
                                      "controller 5 does not answer; it is looked for every period",
                                      "controller 12 is not connected; it is looked for every period"}));
  r = listed.Period();
  EXPECT_TRUE(r.events.empty());
  EXPECT_TRUE(r.notes.empty());
  usb.Add(12);
  EXPECT_EQ(Events(listed.Period()),
            (std::vector<std::pair<Kind, std::string>>{{Kind::Found, "24000012@12"}}));
}

TEST(MonitorPayloads, StateJsonDiscoveryAndTopics) {
  WatchedController c{"24000005", 5, 11, "Hydrix", "1.05", true};
  Reading r{"24000005", std::chrono::system_clock::time_point(std::chrono::milliseconds(1709820309250)), {}};
  auto word = [&](int index, int v) {
    r.block[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(v & 0xFF);
    r.block[static_cast<std::size_t>(index) + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  };
  word(0, 13500);
  word(2, 21);
  word(4, 1500);
  word(6, 200);
  word(8, 0);   // charging
  word(10, 1);  // no charge fault
  word(24, 1);
  word(26, 0);
  const std::string json = StateJson(c, r);
  const std::string time = IsoLocalTimeMs(r.when);
  EXPECT_EQ(time.substr(19, 4), ".250");
  EXPECT_EQ(json,
            "{\"time\":\"" + time +
                "\",\"id\":5,\"serial\":\"24000005\",\"type\":\"Hydrix\",\"firmware\":\"1.05\","
                "\"battery_voltage_V\":13.500,\"temperature_C\":21,\"charging_current_mA\":1500,"
                "\"discharging_current_mA\":200,\"power_W\":20.25,\"charging\":true,\"charge_fault\":false,"
                "\"turbine_running\":true,\"relay\":false}");
  // Discharging only: a negative balance; both currents 0: 0.
  word(4, 0);
  word(6, 200);
  word(0, 12000);
  EXPECT_NE(StateJson(c, r).find("\"power_W\":-2.40,"), std::string::npos) << StateJson(c, r);
  word(6, 0);
  EXPECT_NE(StateJson(c, r).find("\"power_W\":0.00,"), std::string::npos);

  EXPECT_EQ(StateTopic("fleet", "24000005"), "fleet/24000005/state");
  EXPECT_EQ(MonitorAvailabilityTopic("fleet", "m1"), "fleet/monitor/m1/availability");
  const auto discovery = DiscoveryMessages("fleet", "m1", c);
  ASSERT_EQ(discovery.size(), 9u);
  for (const auto& m : discovery) {
    EXPECT_TRUE(m.retain);
    EXPECT_NE(m.payload.find("\"state_topic\":\"fleet/24000005/state\""), std::string::npos);
    EXPECT_NE(m.payload.find("\"availability\":[{\"topic\":\"fleet/monitor/m1/availability\"},"
                             "{\"topic\":\"fleet/24000005/availability\"}]"),
              std::string::npos);
    EXPECT_NE(m.payload.find("\"device\":{\"identifiers\":[\"hydrix_24000005\"],\"name\":\"Hydrix 24000005\","
                             "\"model\":\"Hydrix\",\"sw_version\":\"1.05\""),
              std::string::npos);
  }
  EXPECT_EQ(discovery[0].topic, "homeassistant/sensor/hydrix_24000005/battery_voltage_V/config");
  EXPECT_NE(discovery[0].payload.find("\"unit_of_measurement\":\"V\",\"state_class\":\"measurement\","
                                      "\"device_class\":\"voltage\""),
            std::string::npos);
  EXPECT_EQ(discovery[7].topic, "homeassistant/binary_sensor/hydrix_24000005/turbine_running/config");
  EXPECT_NE(discovery[7].payload.find("{{ 'ON' if value_json.turbine_running else 'OFF' }}"),
            std::string::npos);
}

TEST(PublishQueue, KeepsTheNewestAndCountsWhatItDropped) {
  PublishQueue q(3);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(q.Push({"t", std::to_string(i)}), i <= 3);
  EXPECT_EQ(q.Size(), 3u);
  EXPECT_EQ(q.Front().payload, "3");
  EXPECT_EQ(q.TakeDropped(), 2u);
  EXPECT_EQ(q.TakeDropped(), 0u);
  PublishQueue none(0);
  EXPECT_FALSE(none.Push({"t", "x"}));
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.TakeDropped(), 1u);
}

}  // namespace
}  // namespace hx
