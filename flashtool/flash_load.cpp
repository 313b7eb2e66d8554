// The start of a run: the command line and the product's section of the
// parameter file, read when the window loads.
#include "common/shown_text.h"
#include "flashtool/flash_run.h"

namespace hx::flash {

// ---- Reading the command line and the parameter file ----

bool FlashTool::Form_Load(const std::string& commandTail) {
  // A run starts here: what the history records of the last one goes.
  started_ = std::chrono::system_clock::now();
  serial_.reset();
  headerShown_ = factsRead_ = false;
  hexFacts_.reset();
  chip_.clear();
  cmd_ = CommandLine{};
  const ParsedCommandLine parsed = ParseCommandLine(commandTail);
  if (parsed.usage) {
    for (const auto& line : UsageLines()) ui_.PrintLine(line);
  }
  const auto iniPath = IniPath();
  if (std::string why; !ReadParameterFile(why)) {
    // A file that is there but refused says why under the usual message.
    std::error_code ec;
    const bool there = std::filesystem::exists(iniPath, ec);
    Error("Parameter file " + env_.title + ".INI missing" +
          (there ? "\n" + iniPath.string() + ": " + why : ""));
    return false;
  }
  cmd_ = parsed.command;
  if (parsed.deviceNamed) cmd_.target = ini_.ReadIni(TargetSection(cmd_.device), "TARGET");
  if (!parsed.error.empty()) {
    Error(parsed.error);
    // What was wrong first, then how the options are written.
    if (parsed.misused) {
      for (const auto& line : UsageLines()) ui_.PrintLine(line);
    }
    return false;
  }
  if (!ReadProduct()) return false;
  ReadProgramSettings(ini_, settings_);
  return true;
}

bool FlashTool::ReadParameterFile(std::string& why) { return ini_.Load(IniPath(), &why); }

bool FlashTool::ReadProduct() {
  // The design's text, then where the file really is and what it offers.
  auto notFound = [&](const std::string& why) {
    std::string text = "Device " + ShownText(cmd_.device) + " not found in PROGRAMMER.INI" +
                       (why.empty() ? "" : "\n" + why) + "\nParameter file: " + IniPath().string() +
                       "\nProducts:";
    for (const auto& p : Products()) text += " " + ShownText(p);
    if (Products().empty()) text += " none";
    Error(text);
    return false;
  };
  if (cmd_.target.empty() && !cmd_.device.empty()) return notFound("");
  if (cmd_.target.empty()) {
    cmd_.cmdLen = 9;
    cmd_.cmdVal = 23;
    return true;
  }
  // The boot command's length and value must be numbers; the length must
  // fit the 51-byte boot command buffer, and the value is its first byte.
  long len = 0, val = 0;
  auto number = [&](const char* key, long min, long max, long& out) {
    const std::string text = ini_.ReadIni(cmd_.device, key);
    if (ParseInteger(text, min, max, out)) return std::string();
    return "[" + ShownText(cmd_.device) + "] " + key + "=" + ShownText(text) + " is not a number from " +
           std::to_string(min) + " to " + std::to_string(max);
  };
  if (std::string why = number("CMDLEN", 1, boot::kBootCommandBufferSize, len); !why.empty()) {
    return notFound(why);
  }
  if (std::string why = number("CMDVAL", 0, 255, val); !why.empty()) return notFound(why);
  cmd_.cmdLen = static_cast<std::uint8_t>(len);
  cmd_.cmdVal = static_cast<std::uint16_t>(val);
  cmd_.config = Trim(ini_.ReadIni(cmd_.device, "CONFIG"));
  return true;
}

}  // namespace hx::flash
