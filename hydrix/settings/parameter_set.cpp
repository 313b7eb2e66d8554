#include "hydrix/settings/parameter_set.h"

#include "common/numbers.h"
#include "hydrix/commands/image_recheck.h"
#include "hydrix/config/date_helpers.h"

namespace hx {

ParameterSet::ParameterSet(HydrixDevice& device, std::function<std::int32_t()> dateCount)
    : device_(device), dateCount_(std::move(dateCount)) {
  if (!dateCount_) dateCount_ = [] { return DateVersSecondes(DateHeure::Maintenant()); };
}

ParameterTexts ParameterSet::LitParametres() {
  device_.LitImage();
  return DecodeParametres(device_.ImageParams());
}

ParameterSet::WriteOutcome ParameterSet::EcritParametres(const ParameterTexts& screen) {
  if (auto refusal = device_.ImageWriteRefusal(); !refusal.empty())
    return {false, refusal + " Nothing was written."};
  EncodeResult encoded = EncodeParametres(screen, device_.ImageEcriture(), dateCount_());
  if (!encoded.problems.empty()) {
    std::string why = "Nothing was written:";
    for (const auto& p : encoded.problems) why += "\n" + (names_ ? names_(p.key) : p.key) + ": " + p.text;
    return {false, why};
  }
  device_.ImageEcriture() = encoded.image;
  // The controller must still hold what was read, apart from what this
  // write sets: the values changed on screen, the date and the validity mark.
  ImageAddresses sets = ChangedAddresses(device_);
  for (int a = 40; a < 44; ++a) sets.set(static_cast<std::size_t>(a));
  sets.set(kValidityAddress).set(kValidityAddress + 1);
  if (const ImageRecheck recheck = RecheckImage(device_, sets); !recheck.ok())
    return {false, recheck.message};
  if (!device_.EcritImage()) {
    return {false,
            "The controller did not confirm every byte of the settings; it was not reset. "
            "Read the parameters and write them again."};
  }
  return {true, {}};
}

bool ParameterSet::ConfirmOutOfBounds(const ParameterTexts& screen) {
  const auto outside = OutOfCheckBounds(screen);
  if (!outside.empty() && device_.ImageWriteRefusal().empty() &&
      EncodeParametres(screen, device_.ImageEcriture(), 0).problems.empty()) {
    std::string question = "These values are outside their limits:";
    for (const auto& o : outside) {
      question += "\n" + (names_ ? names_(o.key) : o.key) + " = " + screen.at(o.key) + " (limits " +
                  ShortestDecimal(o.bounds.min) + " to " + ShortestDecimal(o.bounds.max) + ")";
    }
    question += "\nWrite them to the controller anyway?";
    return device_.dialogs().Message({question, HydrixDevice::kTitle, MsgButtons::YesNo, MsgIcon::Question,
                                      true}) == MsgAnswer::Yes;
  }
  return true;
}

bool ParameterSet::Ecrire(const ParameterTexts& screen) {
  const WriteOutcome outcome = EcritParametres(screen);
  if (!outcome.written) {
    device_.dialogs().Message({outcome.why, HydrixDevice::kTitle, MsgButtons::Ok, MsgIcon::Critical});
    return false;
  }
  device_.ResetDevice();
  device_.dialogs().Message({device_.messages().LitMessage("English", "Parameters Writed", ""),
                             HydrixDevice::kTitle, MsgButtons::Ok, MsgIcon::Information});
  return true;
}

std::string ParameterSet::Raz() {
  if (auto refusal = device_.CommandRefusal(); !refusal.empty()) return refusal;
  device_.EcritEEprom(kValidityAddress, 0);
  device_.EcritEEprom(kValidityAddress + 1, 0);
  device_.ResetDevice();
  return {};
}

}  // namespace hx
