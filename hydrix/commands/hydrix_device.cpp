#include "hydrix/commands/hydrix_device.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "common/numbers.h"
#include "hydrix/config/byte_packing.h"

namespace hx {

namespace {
const std::string kEnglish = "English";
}

HydrixDevice::HydrixDevice(UsbInterface& usb, MessageSource& messages, DialogService& dialogs,
                           Sleeper& sleeper, std::function<DateHeure()> now)
    : usb_(usb),
      messages_(messages),
      dialogs_(dialogs),
      sleeper_(sleeper),
      now_(std::move(now)),
      link_(usb, state_, dialogs) {}

std::vector<std::uint8_t> HydrixDevice::Exchange(const Frame& frame, std::int16_t answerLength,
                                                 const std::string& failureKey) {
  link_.UsbOpen(state_.UsbID);
  link_.UsbWrite(frame, static_cast<std::int16_t>(frame.size()));
  const std::string text = messages_.LitMessage(kEnglish, failureKey, "");
  auto a = link_.UsbRead(answerLength, text, true, "");
  link_.UsbClose();
  lastComplete_ = !state_.TimeOut && link_.LastReadCount() >= static_cast<std::uint32_t>(answerLength);
  return a;
}

std::uint8_t HydrixDevice::LitVariable(std::uint8_t index) {
  return Exchange(FrameReadVariable(index), answer::kReadVariable, failure::kMissing)[1];
}

std::uint8_t HydrixDevice::LitEEprom(int index) {
  const auto low = OctetBas(index);
  const auto high = OctetHaut(index);
  if (!low || !high) {
    lastComplete_ = false;
    return 0;
  }
  return Exchange(FrameReadEeprom(*low, *high), answer::kReadEeprom, failure::kMissing)[1];
}

std::uint8_t HydrixDevice::EcritEEprom(int index, int Valeur) {
  if (index < 0 || index > 255 || Valeur < 0 || Valeur > 255) {
    lastComplete_ = false;
    return 0;
  }
  return Exchange(FrameWriteEeprom(static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(Valeur)),
                  answer::kWriteEeprom, failure::kMissing)[1];
}

void HydrixDevice::ResetDevice() {
  const Frame f = FrameReset();
  link_.UsbOpen(state_.UsbID);
  link_.UsbWrite(f, static_cast<std::int16_t>(f.size()));
  link_.UsbClose();
  sleeper_.Sleep(kResetPause);
}

void HydrixDevice::CommandeSortie(std::int16_t output, std::int16_t state) {
  if (output < 0 || output > 255 || state < 0 || state > 255) return;
  Exchange(FrameOutput(static_cast<std::uint8_t>(output), static_cast<std::uint8_t>(state)), answer::kOutput,
           failure::kMissing);
}

void HydrixDevice::EcritHorlogeRapide(bool flag, bool fastTicked, std::uint8_t& result) {
  result = Exchange(FrameClockSpeed(flag, fastTicked), answer::kClockSpeed, failure::kAbsent)[1];
}

std::optional<std::uint8_t> HydrixDevice::OctetHaut(double v) {
  const double r = RoundHalfEven(v);
  if (!(r >= 0 && r <= 65535)) return std::nullopt;
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(r) / 256);
}

std::optional<std::uint8_t> HydrixDevice::OctetBas(double v) {
  const double r = RoundHalfEven(v);
  if (!(r >= 0 && r <= 65535)) return std::nullopt;
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(r) % 256);
}

std::string ImplausibleImage(std::span<const std::int32_t> image,
                             const std::optional<std::array<std::uint8_t, 5>>& identity, std::int32_t UsbID) {
  const std::string who = "controller " + std::to_string(UsbID);
  if (identity && (*identity)[2] == 0 && (*identity)[1] == 0 && (*identity)[3] == 0 && (*identity)[4] == 0) {
    return "The identity of " + who +
           " reads as type 0, firmware 0.00: it is not answering properly, and settings read from it "
           "cannot be its own.";
  }
  const auto read = image.subspan(0, std::min<std::size_t>(image.size(), HydrixDevice::kImageLast + 1));
  if (std::all_of(read.begin(), read.end(), [](std::int32_t b) { return b == 0; })) {
    return "Every byte of the settings read from " + who +
           " is 0: it is not answering properly, and these cannot be its own settings.";
  }
  return {};
}

void HydrixDevice::Choose(std::int32_t id) {
  state_.UsbID = id;
  state_.TimeOut = false;
  state_.Chosen = true;
}

std::string HydrixDevice::CommandRefusal(bool needsAnswer) const {
  if (!state_.Chosen || state_.UsbID == 0) return "No controller is chosen. Choose one with USB Connect.";
  if (needsAnswer && state_.TimeOut) {
    return "Controller " + std::to_string(state_.UsbID) +
           " is not answering. Choose it again with USB Connect.";
  }
  return {};
}

bool HydrixDevice::LitImage() {
  imageRead_ = true;
  imageUsbID_ = state_.UsbID;
  const auto probed = state_.Identities.find(state_.UsbID);
  imageIdentity_.reset();
  if (probed != state_.Identities.end()) imageIdentity_ = probed->second;
  bool whole = true;
  for (int address = 0; address <= kImageLast; ++address) {
    imageParams_[static_cast<std::size_t>(address)] = LitEEprom(address);
    whole = whole && lastComplete_;
    imageEcriture_[static_cast<std::size_t>(address)] = LitEEprom(address);
    whole = whole && lastComplete_;
  }
  imageComplete_ = whole;
  return whole;
}

std::string HydrixDevice::ImageImplausible() const {
  return ImplausibleImage(imageParams_, imageIdentity_, imageUsbID_);
}

std::string HydrixDevice::ImageWriteRefusal() const {
  if (!state_.Chosen) return "No controller is chosen. Choose one with USB Connect.";
  if (!imageRead_) return "No settings have been read from the controller yet. Read the parameters first.";
  if (!imageComplete_) {
    return "The last read of the settings did not complete. Read the parameters again before writing.";
  }
  if (imageUsbID_ != state_.UsbID) {
    return "These settings were read from controller " + std::to_string(imageUsbID_) +
           ", not from the selected controller " + std::to_string(state_.UsbID) +
           ". Read the parameters of the selected controller first.";
  }
  if (auto implausible = ImageImplausible(); !implausible.empty()) return implausible;
  if (state_.TimeOut) return "The controller stopped answering. Choose it again with USB Connect.";
  return {};
}

bool HydrixDevice::EcritImage() {
  if (!ImageWriteRefusal().empty()) return false;
  bool answered = true;
  for (int address = 0; address <= kImageLast; ++address) {
    EcritEEprom(address, imageEcriture_[static_cast<std::size_t>(address)]);
    answered = answered && lastComplete_;
  }
  // What the controller now holds is what was written: a later write is
  // checked against it, not against the image before this one.
  if (answered) {
    for (int address = 0; address <= kImageLast; ++address)
      imageParams_[static_cast<std::size_t>(address)] = imageEcriture_[static_cast<std::size_t>(address)];
  }
  return answered;
}

std::int32_t HydrixDevice::LitMotParams(int index) const {
  if (index < 0 || index > 254) return 0;
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(imageParams_[static_cast<std::size_t>(index)]),
                             static_cast<std::uint8_t>(imageParams_[static_cast<std::size_t>(index) + 1])};
  return OctetsVersEntier(b);
}

std::int32_t HydrixDevice::LitMotValeur(int index) const {
  if (index < 0 || index > 31) return 0;
  const std::uint8_t b[2] = {imageMesures_[static_cast<std::size_t>(index)],
                             imageMesures_[static_cast<std::size_t>(index) + 1]};
  return OctetsVersEntier(b);
}

void HydrixDevice::LitMesures() {
  bool whole = true;
  for (int i = 0; i < kMeasureCount; ++i) {
    imageMesures_[static_cast<std::size_t>(i)] = LitVariable(static_cast<std::uint8_t>(i));
    whole = whole && lastComplete_;
  }
  measuresWhole_ = whole;
}

void HydrixDevice::LitMesuresEtDate() {
  LitMesures();
  const bool whole = measuresWhole_;
  LitDateEtHeure();
  measuresWhole_ = whole && lastComplete_;
}

DateHeure HydrixDevice::MiseAHeure() {
  link_.UsbOpen(state_.UsbID);
  const DateHeure t = now_();
  using namespace std::chrono;
  const year_month_day ymd{year{t.annee}, month{static_cast<unsigned>(t.mois)},
                           day{static_cast<unsigned>(t.jour)}};
  const unsigned iso = weekday{sys_days{ymd}}.iso_encoding();  // 1 = Monday .. 7 = Sunday
  const ClockFields c{static_cast<std::uint8_t>(iso),          static_cast<std::uint8_t>(t.heure),
                      static_cast<std::uint8_t>(t.minute),     static_cast<std::uint8_t>(t.seconde),
                      static_cast<std::uint8_t>(t.jour),       static_cast<std::uint8_t>(t.mois),
                      static_cast<std::uint8_t>(t.annee % 100)};
  const Frame f = FrameSetClock(c);
  link_.UsbWrite(f, static_cast<std::int16_t>(f.size()));
  const std::string text = messages_.LitMessage(kEnglish, failure::kAbsent, "");
  link_.UsbRead(answer::kSetClock, text, true, "");
  link_.UsbClose();
  lastComplete_ = !state_.TimeOut;
  if (!state_.TimeOut) {
    dialogs_.Message(
        {messages_.LitMessage(kEnglish, "Time Set", ""), kTitle, MsgButtons::Ok, MsgIcon::Exclamation});
  }
  return t;
}

std::string HydrixDevice::LitDateEtHeure() {
  const auto a = Exchange(FrameReadClock(), answer::kReadClock, failure::kMissing);
  txtCurrentTime_ = ClockText(a);
  return txtCurrentTime_;
}

std::string HydrixDevice::LitVersion() const {
  return "Tessaro Hydrix  (" + std::to_string(imageParams_[124]) + ") V " +
         std::to_string(imageParams_[125]) + "." + std::to_string(imageParams_[126]) +
         std::to_string(imageParams_[127]);
}

std::array<std::string, 2> HydrixDevice::LitValeurCorrection() const {
  const std::uint8_t b[2] = {static_cast<std::uint8_t>(imageParams_[81]),
                             static_cast<std::uint8_t>(imageParams_[82])};
  const int c = OctetsVersEntier(b);
  const std::string text0 = std::to_string(c);
  const double cPrime = ParseNumber(text0).value_or(0.0);
  const double r = cPrime != 0 ? 1.0 / cPrime : 0.0;
  double f = 0;
  if (r > 0) {
    f = (1 - r) * 16;
  } else if (r == -1) {
    f = -1;
  } else {
    f = 16 / (1 - std::fabs(r));
  }
  return {text0, FormatNumber(f, "#.0000")};
}

}  // namespace hx
