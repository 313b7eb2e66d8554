#include "hydrix/cli/profile_cli.h"

#include <ostream>
#include <sstream>

#include "hydrix/cli/cli_target.h"
#include "hydrix/cli/controller_lock.h"
#include "hydrix/config/date_helpers.h"
#include "hydrix/settings/parameter_set.h"
#include "hydrix/settings/settings_profile.h"

namespace hx {

namespace {

int Bad(std::ostream& err, const std::string& what) {
  err << "hydrixctl: " << what << " (see hydrixctl --help)\n";
  return 2;
}

void Select(HydrixDevice& device, std::int32_t id) { device.Choose(id); }

// Writes the profile's values over the settings read from one controller of
// the profile's type, resets it and reads them back, holding the
// controller's lock from the read to the end. Empty when the controller
// holds the file's values afterwards; otherwise why not.
std::string Import(HydrixDevice& device, const ProfileParse& profile) {
  const ParameterTexts& values = profile.values;
  const auto& known = device.state().Identities;
  const auto identity = known.find(device.UsbID());
  if (auto refusal = ProfileTypeRefusal(
          profile, identity == known.end() ? std::nullopt : std::optional(identity->second), device.UsbID());
      !refusal.empty())
    return refusal;
  ControllerLock lock;
  if (std::string why; !lock.Take(device.UsbID(), ControllerLock::kWait, why))
    return why + "; nothing was written";
  ParameterSet parameters(device);
  ParameterTexts texts = parameters.LitParametres();
  if (!parameters.Whole()) return "did not answer every read; nothing was written";
  if (auto implausible = device.ImageImplausible(); !implausible.empty())
    return implausible + " Nothing was written.";
  for (const auto& [key, value] : values) texts[key] = value;
  const auto outcome = parameters.EcritParametres(texts);
  if (!outcome.written) return outcome.why;
  device.ResetDevice();
  const ParameterTexts after = parameters.LitParametres();
  if (!parameters.Whole()) return "written, but the settings could not be read back";
  const auto differences = CompareProfile(after, values);
  if (!differences.empty())
    return "written, but " + differences.front().key + " reads back as " + differences.front().current;
  return {};
}

}  // namespace

bool IsProfileCommand(const std::vector<std::string>& words) {
  return words.size() > 1 && words[0] == "settings" &&
         (words[1] == "export" || words[1] == "import" || words[1] == "diff");
}

int RunProfileCommand(const std::vector<std::string>& words, const std::vector<std::int32_t>& ids,
                      HydrixDevice& device, DeviceSelection& selection, std::ostream& out,
                      std::ostream& err) {
  const std::string& verb = words[1];
  bool all = false;
  std::vector<std::string> rest;
  for (std::size_t i = 2; i < words.size(); ++i) {
    if (words[i] == "--all" && verb == "import") {
      all = true;
    } else {
      rest.push_back(words[i]);
    }
  }
  if (rest.size() != 1) return Bad(err, "settings " + verb + " needs one FILE");
  const std::filesystem::path file = rest[0];
  if (verb != "import" && ids.size() > 1) return Bad(err, "settings " + verb + " takes one --id");
  if (all && !ids.empty()) return Bad(err, "--all and --id do not go together");

  ProfileParse profile;
  if (verb != "export") {
    profile = ReadProfile(file);
    if (!profile.errors.empty()) {
      for (const auto& e : profile.errors) err << "hydrixctl: " << file.string() << ": " << e << "\n";
      err << "hydrixctl: the profile was not used\n";
      return 2;
    }
  }

  const DeviceList list = selection.RemplitListe(true);
  std::vector<std::int32_t> targets = all ? list.ids : ids;
  if (all && targets.empty() && list.silent.empty()) {
    err << "hydrixctl: no controller answered\n";
    return 1;
  }
  if (!all && ids.size() <= 1) {
    const CliTarget target =
        ResolveTarget(list, ids.empty() ? std::nullopt : std::optional(ids.front()), device.usb(), err);
    if (!target.id) return target.status;
    targets = {*target.id};
  }

  if (verb == "export") {
    Select(device, targets.front());
    ParameterSet parameters(device);
    const ParameterTexts texts = parameters.LitParametres();
    if (!parameters.Whole()) {
      err << "hydrixctl: controller " << targets.front() << " did not answer every read; nothing was saved\n";
      return 1;
    }
    if (auto implausible = device.ImageImplausible(); !implausible.empty()) {
      err << "hydrixctl: " << implausible << " Nothing was saved.\n";
      return 1;
    }
    ProfileOrigin origin;
    for (std::size_t i = 0; i < list.ids.size(); ++i) {
      if (list.ids[i] == targets.front()) origin.controller = list.texts[i];
    }
    origin.firmware = texts.at("firmware_version");
    origin.serial = texts.at("serial_number");
    origin.saved = FormatDateHeure("yyyy-MM-dd HH:mm:ss", DateHeure::Maintenant());
    // Values the screen cannot show as held are saved as what an import
    // writes instead; the file and the operator are told.
    const auto notes = UnshowableValues(device.ImageParams());
    for (const auto& [key, note] : notes) err << "hydrixctl: " << key << ": " << note << "\n";
    const std::string text = FormatProfile(texts, origin, notes);
    if (const auto parsed = ParseProfile(text); !parsed.errors.empty()) {
      err << "hydrixctl: controller " << targets.front() << " holds settings a profile cannot carry ("
          << parsed.errors.front() << "); nothing was saved\n";
      return 1;
    }
    if (const std::string problem = SaveProfile(file, text); !problem.empty()) {
      err << "hydrixctl: " << problem << "\n";
      return 1;
    }
    out << "settings of controller " << targets.front() << " saved to " << file.string() << "\n";
    return 0;
  }

  if (verb == "diff") {
    Select(device, targets.front());
    ParameterSet parameters(device);
    parameters.LitParametres();
    if (!parameters.Whole()) {
      err << "hydrixctl: controller " << targets.front() << " did not answer every read\n";
      return 2;
    }
    if (auto implausible = device.ImageImplausible(); !implausible.empty()) {
      err << "hydrixctl: " << implausible << "\n";
      return 2;
    }
    // The bytes an import would write against the bytes held: a value the
    // screen cannot show is a difference even when its text looks equal.
    const auto differences = CompareWithImage(device.ImageParams(), profile.values);
    for (const auto& d : differences) out << d.key << ": " << d.current << " -> " << d.file << "\n";
    return differences.empty() ? 0 : 1;
  }

  // import: every controller on its own line; one failure does not stop the others.
  bool allDone = true;
  if (all) {
    for (std::int32_t id : list.silent) {
      allDone = false;
      out << "controller " << id << ": FAILED: attached but not answering; nothing was written\n";
    }
  }
  for (std::int32_t id : targets) {
    if (ids.size() > 1) {
      // Each controller named is reported on its line, one not attached too.
      std::ostringstream why;
      if (ResolveTarget(list, id, device.usb(), why).status != 0) {
        allDone = false;
        std::string text = why.str();
        text = text.substr(11, text.size() - 12);  // without "hydrixctl: " and the newline
        out << "controller " << id << ": FAILED: " << text << "\n";
        continue;
      }
    }
    Select(device, id);
    const std::string problem = Import(device, profile);
    if (problem.empty()) {
      out << "controller " << id << ": settings written from " << file.string() << "\n";
    } else {
      allDone = false;
      out << "controller " << id << ": FAILED: " << problem << "\n";
    }
  }
  return allDone ? 0 : 1;
}

}  // namespace hx
