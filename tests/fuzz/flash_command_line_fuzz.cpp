// flashtool's command line: the program's arguments (split at NUL bytes),
// the command tail's options and the product table look-up against the
// shipped parameter file. A tail that loads leaves a sound command state; one
// that does not says why.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "flashtool/batch.h"
#include "flashtool/flash_run.h"
#include "flashtool/parameter_file.h"
#include "flashtool/products.h"
#include "fuzz_fakes.h"

namespace {

using namespace hx::flash;

class NullUi : public FlashUi {
 public:
  void PrintLine(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void ShowProgress() override {}
  void SetProgressRange(int, int) override {}
  void SetProgressValue(int) override {}
  void DoEvents() override {}
};

class NullClock : public FlashClock {
 public:
  std::int64_t NowMs() override { return now += 10; }
  void Idle(std::chrono::milliseconds) override {}
  std::int64_t now = 0;
};

// Nothing is ever opened: Form_Load needs no controller.
class NoBootLibrary : public BootLibrary {
 public:
  bool Ready(std::string& error) override {
    error = "none";
    return false;
  }
  std::int32_t OpenPIC(std::int32_t, std::int32_t, std::int32_t) override { std::abort(); }
  void ClosePIC(std::int32_t) override {}
  std::int32_t SendRawData(std::int32_t, std::span<const std::uint8_t>) override { std::abort(); }
  std::int32_t ReadRawData(std::int32_t, std::span<std::uint8_t>, std::int32_t&) override { std::abort(); }
  std::int16_t SendGetPacket(std::int32_t, hx::boot::Packet&, int, int, int) override { std::abort(); }
  std::int16_t ReadPIC(std::int32_t, const hx::boot::RequestBytes&, std::span<std::uint8_t>) override {
    std::abort();
  }
  std::int16_t WritePIC(std::int32_t, const hx::boot::RequestBytes&, std::span<const std::uint8_t>) override {
    std::abort();
  }
};

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    // In memory where there is such a folder: the file is read on every input.
    char pattern[] = "/dev/shm/flash-cmdline-fuzz-XXXXXX";
    char fallback[] = "/tmp/flash-cmdline-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    std::filesystem::path f(made ? made : ::mkdtemp(fallback));
    std::filesystem::copy_file(HX_SHIPPED_INI, f / "flashtool.INI");
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The arguments as the program gets them.
  std::vector<std::string> args{"flashtool"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  const ProgramArguments parsed = ParseProgramArguments(static_cast<int>(argv.size()), argv.data());

  // The tail splits into options that hold no separator, and ends.
  std::string rest = parsed.tail;
  for (std::size_t guard = 0; !Trim(rest).empty(); ++guard) {
    const std::size_t before = rest.size();
    const std::string token = GetToken(rest, ";");
    if (token.find(';') != std::string::npos || rest.size() >= before || guard > size) std::abort();
    const Product* product = FindProduct(ToUpper(Trim(token)));
    if (product && product->name != ToUpper(Trim(token))) std::abort();
  }

  NoBootLibrary library;
  NullUi ui;
  hx::fuzz::QuietDialogs dialogs;
  NullClock clock;
  FlashTool tool(FlashEnvironment{"flashtool", Folder(), Folder(), Folder()}, library, ui, dialogs, clock);
  if (tool.Form_Load(parsed.tail)) {
    const CommandLine& c = tool.Options();
    if (c.UsbID == -1 || c.device != ToUpper(c.device) || c.cmdLen < 1 || c.cmdLen > 51) std::abort();
    if (!c.device.empty() && c.target.empty()) std::abort();
    if (dialogs.messages != 0) std::abort();
  } else if (dialogs.messages == 0) {
    std::abort();  // refused without a word
  }
  return 0;
}
