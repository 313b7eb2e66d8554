// The measure block decoded for the screens: what the main window's "Values"
// and "Output Control" frames show after a measure read, what the state
// window shows, and the measure log's CSV line. Plain values; the windows
// only copy them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "hydrix/commands/hydrix_device.h"

namespace hx {

// The block as HydrixDevice holds it (ImageMesures).
using MeasureBlock = std::array<std::uint8_t, 33>;

struct Rgb {
  int r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
namespace colour {
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kGrey{192, 192, 192};
}  // namespace colour

// The signed 16-bit little-endian word of bytes index and index + 1; 0 for
// an index outside 0..31.
std::int32_t MeasureWord(const MeasureBlock& block, int index);

// What a measure read shows in the main window.
struct MeasureView {
  std::string labelPower;            // LabelPower
  std::string power;                 // Power, empty when both currents are zero
  std::optional<Rgb> powerColour;    // Power's text colour; nothing keeps the last one
  std::array<std::string, 4> text1;  // Text1(0..3): voltage "0.00", temperature, charging, discharging
  int relayIndex = 0;                // RelayValue's selection
  int solenoidIndex = 0;             // SolenoidValue's selection
  std::string label7;                // "Turbine Running" / "Turbine Stopped"
  Rgb lowCharge;                     // LowCharge's fill
  std::string label5;                // "Not Charging" / "Charging"
  Rgb batterieDefault;               // BatterieDefault's fill
  std::string label8;                // "No Charge Fault" / "Charge Fault"
};
MeasureView DecodeMesures(const MeasureBlock& block);

// What the main window shows while no controller is chosen or the link is
// given up: "--" in the measure boxes, grey lamps, a blank power box. The
// zeros of failed reads are no measures. Empty labels and negative list
// indexes mean "leave as shown".
MeasureView NoReading();

// What the state window shows.
struct StateView {
  std::string tension;  // Tension_Batterie, "0.00" V
  std::string turbine;  // "ON" / "OFF"
  Rgb turbineColour;    // red when on, green when off
  std::string relay;
  Rgb relayColour;
  std::optional<std::string> state;   // State(0); nothing for an unknown code
  std::array<std::string, 4> delays;  // State(1..4): on start, after charge, before charge, before relay
};
StateView DecodeEtat(const MeasureBlock& block);

// Why a measure read is not a reading of the controller, "" when it is: a
// read that got no answer or short answers (`whole` false), an identity that
// reads as type 0 / version 0.00, or a block of zeros (variables 0..27)
// with a clock text that is no date ("00/00/00 - 00:00:00"). Such values
// are neither shown, logged nor charted. `identity` is the probe's answer
// when known, `clock` the clock text read with the measures.
std::string NotAReading(const MeasureBlock& block, bool whole,
                        const std::optional<std::array<std::uint8_t, 5>>& identity, const std::string& clock,
                        std::int32_t UsbID);
// The same for the device's last LitMesuresEtDate.
std::string NotAReading(const HydrixDevice& device);

// The text of an operating state code 1..6; empty for any other code.
std::string StateText(int code);

}  // namespace hx
