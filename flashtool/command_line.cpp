#include "flashtool/command_line.h"

#include <climits>
#include <map>
#include <set>

#include "common/shown_text.h"
#include "flashtool/parameter_file.h"
#include "flashtool/products.h"

namespace hx::flash {

namespace {
// The options that are switches: they take no value.
const std::set<std::string> kFlags = {"NOPROG", "IDONLY", "BOOT", "SPY", "OLD_MODE", "NOVERIFY"};

std::string ToLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}
}  // namespace

std::string GetToken(std::string& str, std::string_view delim) {
  const std::size_t b = str.find_first_not_of(' ');
  if (b == std::string::npos) {
    str.clear();
    return {};
  }
  str = str.substr(b, str.find_last_not_of(' ') - b + 1);
  const std::size_t at = delim.empty() ? std::string::npos : str.find(delim);
  if (at == std::string::npos) {
    std::string all = std::move(str);
    str.clear();
    return all;
  }
  std::string token = str.substr(0, at);
  str = str.substr(at + delim.size());
  return token;
}

ParsedCommandLine ParseCommandLine(std::string_view text) {
  ParsedCommandLine parsed;
  CommandLine& cmd = parsed.command;
  std::string tail(text);
  parsed.usage = Trim(tail).empty();
  // The first option that cannot mean one thing ends the parse: a valued
  // key given twice, a flag given a value, a connection that names none.
  auto refuse = [&](std::string why) {
    if (parsed.error.empty()) parsed.error = std::move(why);
    parsed.misused = true;
  };
  std::map<std::string, std::string> given;  // valued key -> its option as typed
  while (!Trim(tail).empty() && !parsed.misused) {
    std::string option = GetToken(tail, ";");
    const std::string typed = Trim(option);
    const std::string key = ToUpper(Trim(GetToken(option, "=")));
    const std::string value = Trim(option);
    const std::string name = ToLower(key);
    if (key == "DEVICE" || key == "PRG" || key == "USBID") {
      if (const auto [earlier, fresh] = given.try_emplace(key, typed); !fresh) {
        refuse(name + " is given twice (" + ShownText(earlier->second) + ";" + ShownText(typed) +
               "): give it once");
        break;
      }
    } else if (kFlags.contains(key) && !value.empty()) {
      refuse(name + " takes no value (" + ShownText(typed) + "): give " + name + " alone, or leave it out");
      break;
    }
    if (key == "DEVICE") {
      cmd.device = ToUpper(value);
      parsed.deviceNamed = true;
    } else if (key == "PRG") {
      cmd.hexPath = value;  // a Linux path keeps its case
    } else if (key == "NOPROG") {
      cmd.noprog = true;
    } else if (key == "IDONLY") {
      cmd.idonly = cmd.noprog = true;
    } else if (key == "BOOT") {
      cmd.boot = cmd.noprog = true;
    } else if (key == "SPY") {
      cmd.spy = true;
    } else if (key == "OLD_MODE") {
      cmd.old_mode = true;
    } else if (key == "NOVERIFY") {
      cmd.noverify = true;
    } else if (key == "USBID") {
      long id = 0;
      if (ParseInteger(value, INT32_MIN, INT32_MAX, id)) {
        // 0 and -1 are what a caller passes when it has no controller.
        if (id == 0 || id == -1) {
          refuse("usbid=" + std::to_string(id) + " names no controller (0 and -1 never do)");
          break;
        }
        cmd.UsbID = static_cast<std::int32_t>(id);
      }
    }
    // Any other key (LANGUE, for one) is ignored.
  }
  const Product* product = FindProduct(cmd.device);
  if (product && product->forcesOldMode) cmd.old_mode = true;
  if (parsed.error.empty() && cmd.UsbID == -1) parsed.error = "USB device ID not supplied";
  return parsed;
}

bool StartedFromHydrix(std::string_view tail) {
  std::string rest(tail);
  while (!Trim(rest).empty()) {
    std::string option = GetToken(rest, ";");
    if (ToUpper(Trim(GetToken(option, "="))) == "LANGUE") return true;
  }
  return false;
}

const std::vector<std::string>& UsageLines() {
  static const std::vector<std::string> lines = {
      "Command line parameters: <opt1>;<opt2>;<opt3> ...",
      "    device=<dev>",
      "    prg=<hex file>",
      "    usbid=<cxn>",
      "    noprog               Do not program",
      "    idonly               Read and display device ID",
      "    boot                 Loop trying to force bootload",
      "    noverify             Do not read back what was programmed",
      "",
      "    <dev> arvel/paxter/mervo/dunix/hosper/arvel5-12/arvel12-24",
      "    <hex file> .HEX file to program",
      "    <cxn> USB connection to use (typically 1)",
      "",
      "    flashtool --choose   choose the controller, product and file in the window",
  };
  return lines;
}

}  // namespace hx::flash
