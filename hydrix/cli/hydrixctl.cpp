#include "hydrix/cli/hydrixctl.h"

#include <algorithm>
#include <charconv>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "common/numbers.h"
#include "common/sleeper.h"
#include "hydrix/cli/cli_target.h"
#include "hydrix/cli/controller_lock.h"
#include "hydrix/cli/measures_watch.h"
#include "hydrix/cli/production_cli.h"
#include "hydrix/cli/profile_cli.h"
#include "hydrix/commands/hydrix_device.h"
#include "hydrix/config/catalogue_cli.h"
#include "hydrix/config/config_file.h"
#include "hydrix/selection/device_selection.h"
#include "hydrix/settings/measures_codec.h"
#include "hydrix/settings/parameter_set.h"
#include "hydrix/settings/settings_profile.h"

namespace hx {

const char* const kHydrixCtlUsage =
    "usage: hydrixctl [--id N] [--config PATH] COMMAND | --version\n"
    "  list           one line per answering controller: identifier, a tab, its identity\n"
    "  image          the 129-byte settings image, 16 hex bytes a line\n"
    "  measures       the words of the measure block by name\n"
    "  measures --watch [--interval S] [--count N] [--csv FILE] [--keep-going]\n"
    "                 one CSV line of measures every S seconds (default 1), N times or until\n"
    "                 Ctrl-C; --csv also appends them to FILE; --keep-going writes a line with\n"
    "                 empty measures for a reading that gets no answer and goes on\n"
    "  clock          read the controller clock\n"
    "  clock --set    set the controller clock from the PC clock\n"
    "  settings       the settings as the main window shows them: key, a tab, the text\n"
    "  settings set KEY=VALUE... [--force]\n"
    "                 reads the settings, changes those keys, writes the whole image back and\n"
    "                 resets the controller, as Write Parameters does; values outside the\n"
    "                 window's check bounds are refused unless --force; values are stored as\n"
    "                 the window shows them (11.556 as 11.56)\n"
    "  calibrate-voltage VOLTS [--force]\n"
    "                 sends the reference voltage measured on the battery; prints the new correction;\n"
    "                 a reference more than 10 % away from the voltage the controller measures is\n"
    "                 refused unless --force\n"
    "  calibrate-clock VALUE\n"
    "                 stores the clock correction for the clock value measured (nominal 16)\n"
    "  fast-clock on|off\n"
    "                 switches the controller's fast clock\n"
    "  serial NUMBER  writes the serial number; the highest written from this machine is kept\n"
    "                 in $XDG_STATE_HOME/hydrix/last-serial\n"
    "  serial --next  writes the serial after the last one written from this machine and\n"
    "                 prints it (two at once get two numbers); refused until a first serial\n"
    "                 is written by hand, and on the unit that holds the last one\n"
    "  report --log FILE --order NUMBER [--comments TEXT] [--language NAME]\n"
    "                 appends the production report of the controller to FILE\n"
    "  settings export FILE\n"
    "                 saves the settings Write Parameters writes to a profile (key = value lines)\n"
    "  settings import FILE [--id N]... | --all\n"
    "                 writes a profile to one, several or all controllers, each reported on its line;\n"
    "                 a profile saved from one type of controller is written to no other type\n"
    "  settings diff FILE\n"
    "                 lists key: controller -> file for each setting that differs (exit 1 when any)\n"
    "  message LANGUAGE CODE\n"
    "                 the catalogue's text for CODE (exit 1 when it has none; nothing is written)\n"
    "  message --add LANGUAGE CODE [TEXT]\n"
    "                 the same, adding CODE with TEXT (or the code itself) when it is missing\n"
    "  languages      the catalogue's languages, the one selected for \"English\" marked \"* \"\n"
    "--id N names the controller. Without it a command acts only when exactly one controller\n"
    "answers; with several it does nothing, lists them and exits 2.\n"
    "--config PATH names the configuration file (default: config.xml next to hydrixctl).\n"
    "Every write of settings read earlier first reads them again: another controller on the\n"
    "connection, or settings changed since by another program, and nothing is written.\n"
    "Exit status: 0 done; 1 the act failed (no controller, no whole answer, no plausible\n"
    "answer, a refused write, a file not written; settings diff: the settings differ); 2 bad\n"
    "usage or bad input (several controllers and no --id; settings diff: also a controller\n"
    "that does not answer).\n";

MsgAnswer StreamDialogService::Message(const MessageBoxRequest& request) {
  const bool error = request.icon == MsgIcon::None || request.icon == MsgIcon::Critical;
  (error ? err_ : out_) << "hydrixctl: " << request.text << "\n";
  return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
}

namespace {

// The words of the measure block, by name.
struct MeasureWord {
  int index;
  const char* name;
};
constexpr MeasureWord kMeasureWords[] = {
    {0, "battery_voltage_mV"},
    {2, "temperature_C"},
    {4, "charging_current_mA"},
    {6, "discharging_current_mA"},
    {8, "not_charging"},
    {10, "charge_state"},
    {12, "delay_after_charge_s"},
    {14, "delay_before_charge_s"},
    {16, "delay_before_relay_s"},
    {18, "delay_on_start_s"},
    {20, "state"},
    {24, "solenoid"},
    {26, "relay"},
};

int Usage(std::ostream& err, const std::string& problem) {
  if (!problem.empty()) err << "hydrixctl: " << problem << "\n";
  err << kHydrixCtlUsage;
  return 2;
}

// Why a command got nothing usable: the backend out of reach, a silent
// controller, or one whose answers came short.
int NoAnswer(std::ostream& err, std::int32_t id, HydrixDevice& device) {
  if (!device.TimeOut()) {
    err << "hydrixctl: controller " << id << " answered short frames\n";
  } else if (const std::string problem = device.usb().BackendProblem(); !problem.empty()) {
    err << "hydrixctl: " << problem << "\n";
  } else {
    err << "hydrixctl: controller " << id << " did not answer\n";
  }
  return 1;
}

int NoController(std::ostream& err, UsbInterface& usb) {
  const std::string problem = usb.BackendProblem();
  err << "hydrixctl: " << (problem.empty() ? "no controller answered" : problem) << "\n";
  return 1;
}

// "settings" and "settings set KEY=VALUE... [--force]".
int RunSettings(const std::vector<std::string>& words, HydrixDevice& device, std::ostream& out,
                std::ostream& err) {
  bool force = false;
  std::vector<std::pair<std::string, std::string>> changes;
  const bool set = words.size() > 1;
  for (std::size_t i = 2; i < words.size(); ++i) {
    if (words[i] == "--force") {
      force = true;
      continue;
    }
    const auto eq = words[i].find('=');
    const std::string key = words[i].substr(0, eq);
    const ParameterField* f = FindParameter(key);
    if (eq == std::string::npos || !f)
      return Usage(err, "'" + words[i] + "' is not KEY=VALUE with a known key");
    if (!f->written) return Usage(err, key + " cannot be set: Write Parameters does not write it");
    changes.emplace_back(key, words[i].substr(eq + 1));
  }
  if (set && changes.empty()) return Usage(err, "settings set needs KEY=VALUE");
  // Values are checked before anything is sent: bad input is status 2.
  for (const auto& [key, value] : changes) {
    const ParameterField* f = FindParameter(key);
    if (const std::string problem = ValueProblem(*f, value, false); !problem.empty()) {
      err << "hydrixctl: " << key << ": " << problem << "; nothing was written\n";
      return 2;
    }
    if (f->check && !force && !CheckField(*f, value).ok()) {
      err << "hydrixctl: " << key << " must be a number from " << ShortestDecimal(f->check->min) << " to "
          << ShortestDecimal(f->check->max) << ", not '" << value
          << "' (--force writes it anyway); nothing was written\n";
      return 2;
    }
  }

  ParameterSet parameters(device);
  ParameterTexts texts = parameters.LitParametres();
  if (!parameters.Whole()) {
    err << "hydrixctl: controller " << device.UsbID() << " did not answer every read; "
        << (set ? "nothing was written" : "its settings could not be read") << "\n";
    return 1;
  }
  if (!set) {
    if (auto implausible = device.ImageImplausible(); !implausible.empty()) {
      err << "hydrixctl: " << implausible << "\n";
      return 1;
    }
    for (const auto& f : ParameterMap()) out << f.key << '\t' << texts[f.key] << '\n';
    return 0;
  }
  for (const auto& [key, value] : changes) texts[key] = ScreenValue(*FindParameter(key), value);
  return parameters.Ecrire(texts) ? 0 : 1;
}

// The commands that talk to a controller.
int RunDeviceCommand(const std::vector<std::string>& words, bool set, const std::vector<std::int32_t>& ids,
                     HydrixDevice& device, DeviceSelection& selection, ConfigFile& catalogue,
                     std::ostream& out, std::ostream& err) {
  const std::string& command = words[0];
  if (IsProfileCommand(words)) return RunProfileCommand(words, ids, device, selection, out, err);
  const DeviceList list = selection.RemplitListe(true);
  std::optional<std::int32_t> id;
  if (!ids.empty()) id = ids.back();
  if (command == "list") {
    for (std::size_t i = 0; i < list.ids.size(); ++i) out << list.ids[i] << '\t' << list.texts[i] << '\n';
    if (list.ids.empty()) return NoController(err, device.usb());
    return 0;
  }

  // Nothing on the bus and a backend that says why (a bad hxusb.conf, the
  // simulator out of reach): that reason comes first, before any exchange.
  if (list.ids.empty() && list.silent.empty() && !device.usb().BackendProblem().empty())
    return NoController(err, device.usb());
  const CliTarget target = ResolveTarget(list, id, device.usb(), err);
  if (!target.id) return target.status;
  id = target.id;
  device.Choose(*id);
  // A command that writes an image it read holds the controller's lock from
  // that read to the end of its write: two of them take turns.
  ControllerLock lock;
  const bool writesImage = (command == "settings" && words.size() > 1) || command == "calibrate-voltage" ||
                           command == "calibrate-clock" || command == "serial";
  if (std::string why; writesImage && !lock.Take(*id, ControllerLock::kWait, why)) {
    err << "hydrixctl: " << why << "; nothing was written\n";
    return 1;
  }

  if (command == "settings") return RunSettings(words, device, out, err);
  if (IsProductionCommand(command)) {
    const auto languages =
        command == "report" ? catalogue.RemplitListeLangues("English").names : std::vector<std::string>{};
    return RunProductionCommand(words, device, languages, out, err);
  }
  if (command == "image") {
    if (!device.LitImage()) return NoAnswer(err, *id, device);
    const auto& image = device.ImageParams();
    std::ostringstream text;
    text << std::uppercase << std::hex << std::setfill('0');
    for (int a = 0; a <= HydrixDevice::kImageLast; ++a) {
      if (a % 16 == 0) text << std::setw(4) << a << ':';
      text << ' ' << std::setw(2) << image[static_cast<std::size_t>(a)];
      if (a % 16 == 15 || a == HydrixDevice::kImageLast) text << '\n';
    }
    out << text.str();
    return 0;
  }
  if (command == "measures" && words.size() > 1) {
    RealSleeper sleeper;
    const std::int32_t watched = *id;
    auto reconnect = [&] {
      // The enumeration clears the given-up link before it probes.
      const DeviceList again = selection.RemplitListe(true);
      if (std::find(again.ids.begin(), again.ids.end(), watched) == again.ids.end()) return false;
      device.Choose(watched);
      return true;
    };
    return RunMeasuresWatch({words.begin() + 2, words.end()}, device, sleeper, out, err, reconnect);
  }
  if (command == "measures") {
    device.LitMesuresEtDate();
    if (!device.MeasuresWhole()) return NoAnswer(err, *id, device);
    if (const std::string why = NotAReading(device); !why.empty()) {
      err << "hydrixctl: " << why << "\n";
      return 1;
    }
    for (const auto& w : kMeasureWords) {
      const int v = device.LitMotValeur(w.index);
      out << w.name << '\t' << v;
      if (w.index == 20 && !StateText(v).empty()) out << '\t' << StateText(v);
      out << '\n';
    }
    return 0;
  }
  // clock
  if (set) {
    const DateHeure t = device.MiseAHeure();
    if (device.TimeOut()) return NoAnswer(err, *id, device);
    out << "clock set to " << FormatDateHeure("yyyy-MM-dd HH:mm:ss", t) << '\n';
    return 0;
  }
  const std::string text = device.LitDateEtHeure();
  if (!device.LastAnswerComplete()) return NoAnswer(err, *id, device);
  out << text << '\n';
  return 0;
}

}  // namespace

int RunHydrixCtl(std::vector<std::string> args, UsbInterface& usb, std::ostream& out, std::ostream& err) {
  ConfigLocation config = DefaultConfigLocation();
  std::filesystem::path configPath = config.file;
  std::string configError;
  if (!TakeConfigOption(args, configPath, configError)) return Usage(err, configError);
  // A file named on the command line is used as it is, without defaults.
  if (configPath != config.file) config = {configPath, {}};
  std::vector<std::int32_t> ids;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--id") {
      if (i + 1 >= args.size()) return Usage(err, "--id needs a number");
      const std::string& v = args[++i];
      std::int32_t n = 0;
      auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec != std::errc() || ptr != v.data() + v.size())
        return Usage(err, "--id needs a number, not '" + v + "'");
      // The USB library's "no controller" and "not found": never a controller.
      if (n == 0 || n == -1) return Usage(err, "--id " + v + " names no controller (0 and -1 never do)");
      ids.push_back(n);
    } else if (args[i] == "--help" || args[i] == "-h") {
      out << kHydrixCtlUsage;
      return 0;
    } else {
      words.push_back(args[i]);
    }
  }
  if (words.empty()) return Usage(err, "");
  if (IsCatalogueCommand(words[0])) return RunCatalogueCommand(words, config, out, err);
  const std::string command = words[0];
  const bool set = words.size() == 2 && command == "clock" && words[1] == "--set";
  const bool settingsSet = command == "settings" && words.size() > 1 && words[1] == "set";
  const bool production = IsProductionCommand(command);
  const bool profile = IsProfileCommand(words);
  const bool watch = command == "measures" && words.size() > 1 && words[1] == "--watch";
  if (ids.size() > 1 && !(profile && words[1] == "import"))
    return Usage(err, "only settings import takes several --id");
  if (!(words.size() == 1 || set || settingsSet || production || profile || watch)) {
    return Usage(err, "unexpected '" + words.back() + "'");
  }
  if (command != "list" && command != "image" && command != "measures" && command != "clock" &&
      command != "settings" && !production) {
    return Usage(err, "unknown command '" + command + "'");
  }

  // The failure texts come from the catalogue; without a readable one they
  // are their codes.
  ConfigFile messages(config);
  StreamDialogService dialogs(out, err);
  RealSleeper sleeper;
  HydrixDevice device(usb, messages, dialogs, sleeper);
  DeviceSelection selection(usb, device.link(), device.state(), dialogs);

  const int status = RunDeviceCommand(words, set, ids, device, selection, messages, out, err);
  // A catalogue that could not be read or saved is told once, after the output.
  if (auto problem = messages.TakeProblem()) err << "hydrixctl: " << *problem << "\n";
  return status;
}

}  // namespace hx
