// The controller's command set, held by the main window: the controller
// choice (UsbID) and link flag (TimeOut), the settings images and the
// measure block, and one method per command. Every command is one exchange
// cycle (open, write 12 bytes, look up the failure text, read, close); a
// missing answer is shown once through the dialog service and decodes as
// zeros (see multiusb.h).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "common/dialog_service.h"
#include "common/sleeper.h"
#include "hydrix/commands/frames.h"
#include "hydrix/config/date_helpers.h"
#include "hydrix/config/message_source.h"
#include "hydrix/link/multiusb.h"
#include "hydrix/link/usb_interface.h"

namespace hx {

// Why a settings image read from a controller cannot be its own, or "": every
// byte 0, or the controller's identity probe (when known) gave type 0 and
// version 0.00. A controller that answers frames of zeros gives exactly
// that; writing such an image back would wipe its settings. An image without
// the validity mark (after Factory Values) is plausible.
std::string ImplausibleImage(std::span<const std::int32_t> image,
                             const std::optional<std::array<std::uint8_t, 5>>& identity, std::int32_t UsbID);

class HydrixDevice {
 public:
  // Addresses 0..128 of the EEPROM are the settings image.
  static constexpr int kImageLast = 128;
  static constexpr int kMeasureCount = 28;
  // The pause after a reset, while the controller restarts.
  static constexpr std::chrono::milliseconds kResetPause{2000};
  // Title of the main screen's message boxes.
  static constexpr const char* kTitle = "HydrixIP";

  HydrixDevice(UsbInterface& usb, MessageSource& messages, DialogService& dialogs, Sleeper& sleeper,
               std::function<DateHeure()> now = DateHeure::Maintenant);

  // Link state and the exchange underneath.
  std::int32_t UsbID() const { return state_.UsbID; }
  void SetUsbID(std::int32_t id) { state_.UsbID = id; }
  bool TimeOut() const { return state_.TimeOut; }
  void SetTimeOut(bool v) { state_.TimeOut = v; }
  // The operator's (or a command line's) choice: UsbID becomes `id`, the
  // link is live and the controller counts as chosen.
  void Choose(std::int32_t id);
  bool Chosen() const { return state_.Chosen; }
  // Why a command may not be sent now: no controller chosen, or (when
  // `needsAnswer`) the chosen one has stopped answering. Empty when it may.
  std::string CommandRefusal(bool needsAnswer = true) const;
  LinkState& state() { return state_; }
  const LinkState& state() const { return state_; }
  MULTIUSB& link() { return link_; }
  UsbInterface& usb() { return usb_; }
  DialogService& dialogs() { return dialogs_; }
  MessageSource& messages() { return messages_; }

  // Variable `index` of the measure block (answer byte 1).
  std::uint8_t LitVariable(std::uint8_t index);
  // EEPROM byte at `index` (0..65535 is sent; the controller has 0..255).
  // An index outside 0..65535 sends nothing and gives 0.
  std::uint8_t LitEEprom(int index);
  // Writes `Valeur` at `index`; both must be 0..255, otherwise nothing is
  // sent and 0 is returned.
  std::uint8_t EcritEEprom(int index, int Valeur);
  // Restarts the controller; no answer is read; then a 2000 ms pause.
  void ResetDevice();
  // Drives output 0 (solenoid) or 1 (relay) to the state index given.
  void CommandeSortie(std::int16_t output, std::int16_t state);
  // The clock speed command: byte 1 = 1 when `flag`, byte 2 = 1 when `flag`
  // and `fastTicked`. `result` receives answer byte 1.
  void EcritHorlogeRapide(bool flag, bool fastTicked, std::uint8_t& result);

  // Byte split of a value rounded half to even; nothing when the rounded
  // value is outside 0..65535.
  static std::optional<std::uint8_t> OctetHaut(double v);
  static std::optional<std::uint8_t> OctetBas(double v);

  // Reads addresses 0..128 twice each (258 exchanges) into ImageParams and
  // ImageEcriture, and remembers the controller they came from. True only
  // when every read was answered in full; after a failure the rest of both
  // images holds 0 and EcritImage refuses them.
  bool LitImage();
  // Writes addresses 0..128 from ImageEcriture (129 exchanges). Refuses,
  // sending nothing, whenever ImageWriteRefusal() has a reason. True when
  // every write was answered; ImageParams then holds what was written.
  bool EcritImage();
  bool ImageComplete() const { return imageComplete_; }
  // The controller the images were last read from (0: none read yet).
  std::int32_t ImageUsbID() const { return imageUsbID_; }
  // Why the images may not be written to the selected controller: no
  // controller chosen, none read since start, the last read incomplete, read
  // from another controller, an image that cannot be the controller's own
  // (ImageImplausible), or the link given up. Empty when a write may go ahead.
  std::string ImageWriteRefusal() const;
  // Why the last image read cannot be the controller's own settings (see
  // ImplausibleImage), empty when it can. Values shown or recorded from a
  // read are refused on the same rule.
  std::string ImageImplausible() const;

  // Signed 16-bit word of entries index (low) and index + 1 (high):
  // 0..254 for ImageParams, 0..31 for ImageMesures; 0 outside.
  std::int32_t LitMotParams(int index) const;
  std::int32_t LitMotValeur(int index) const;

  // Variables 0..27 into ImageMesures. MeasuresWhole() tells whether every
  // answer of the last LitMesures (and of the clock read of
  // LitMesuresEtDate) came in full.
  void LitMesures();
  bool MeasuresWhole() const { return measuresWhole_; }
  // LitMesures, then LitDateEtHeure.
  void LitMesuresEtDate();

  // Sets the controller clock from the PC clock (read once, so the fields
  // agree). Shows "Time Set" when the controller answered. Returns the time
  // sent (for the date picker).
  DateHeure MiseAHeure();
  // Reads the controller clock; its text ("07/03/24 - 14:05:09", zeros
  // after a failed read) is returned and kept in txtCurrentTime().
  std::string LitDateEtHeure();
  const std::string& txtCurrentTime() const { return txtCurrentTime_; }
  // The window caption from ImageParams: "Tessaro Hydrix  (11) V 1.05".
  std::string LitVersion() const;
  // ValeurHorloge(0) and (1) from the clock correction word of ImageParams.
  std::array<std::string, 2> LitValeurCorrection() const;

  std::array<std::int32_t, 256>& ImageParams() { return imageParams_; }
  std::array<std::uint8_t, 256>& ImageEcriture() { return imageEcriture_; }
  std::array<std::uint8_t, 33>& ImageMesures() { return imageMesures_; }
  const std::array<std::int32_t, 256>& ImageParams() const { return imageParams_; }
  const std::array<std::uint8_t, 256>& ImageEcriture() const { return imageEcriture_; }
  const std::array<std::uint8_t, 33>& ImageMesures() const { return imageMesures_; }

  // Whether the last command's answer came in full.
  bool LastAnswerComplete() const { return lastComplete_; }

 private:
  // One exchange cycle with the failure text of `failureKey`.
  std::vector<std::uint8_t> Exchange(const Frame& frame, std::int16_t answerLength,
                                     const std::string& failureKey);

  UsbInterface& usb_;
  MessageSource& messages_;
  DialogService& dialogs_;
  Sleeper& sleeper_;
  std::function<DateHeure()> now_;
  LinkState state_;
  MULTIUSB link_;
  std::array<std::int32_t, 256> imageParams_{};
  std::array<std::uint8_t, 256> imageEcriture_{};
  std::array<std::uint8_t, 33> imageMesures_{};
  bool imageComplete_ = false;
  bool imageRead_ = false;
  std::int32_t imageUsbID_ = 0;
  bool lastComplete_ = false;
  bool measuresWhole_ = false;
  std::optional<std::array<std::uint8_t, 5>> imageIdentity_;
  std::string txtCurrentTime_ = "--";
};

}  // namespace hx
