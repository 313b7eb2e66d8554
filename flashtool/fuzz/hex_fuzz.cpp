// Fuzzing the HEX loader: validation and conversion of arbitrary bytes, in
// memory and through files, with and without a chip's memory ranges, must
// agree and stay within bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "flashtool/hex_loader.h"
#include "wire/boot_memory_map.h"

namespace {

using namespace hx::flash;

// Checks every row handed over: its address fits the six digits of a list
// row and, with limits, every byte the file supplied (not 0xFF padding alone)
// lies in a row the limits touch.
class CheckingSink : public RowSink {
 public:
  explicit CheckingSink(const HexLimits* limits = nullptr) : limits_(limits) {}
  bool Row(ListKind kind, std::uint32_t address, const std::uint8_t*) override {
    if (address > 0xFFFFFF) std::abort();
    if (limits_) {
      const std::uint64_t base = kind == ListKind::Eeprom ? hx::boot::kEepromHexBase : 0;
      bool touched = false;
      for (const auto& r : limits_->ranges) {
        if (base + address <= r.high && r.low <= base + address + 15) touched = true;
      }
      if (!touched) std::abort();
    }
    if (kind == ListKind::Program) ++programRows;
    return true;
  }
  std::int32_t programRows = 0;

 private:
  const HexLimits* limits_;
};

// A chip's memory as the parameter file gives it.
const HexLimits kLimits{{{0x200, 0x7FFF}, {0xF00000, 0xF000FF}, {0x200000, 0x200007}, {0x300000, 0x30000D}}};

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    char pattern[] = "/tmp/hex-fuzz-XXXXXX";
    return std::filesystem::path(::mkdtemp(pattern));
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  HexProblem problem;
  const std::int16_t status = CheckHexText(text, nullptr, &problem);
  // A refusal always says why; a refused line is one that exists.
  if (status < 0 && problem.reason.empty()) std::abort();
  CheckingSink sink;
  const std::int32_t rows = LoadHexText(text, sink);
  if (status < 0 ? rows != status : rows != sink.programRows) std::abort();

  // With the chip's memory: never more accepted than without, and every row inside it.
  const std::int16_t limited = CheckHexText(text, &kLimits);
  if (status < 0 && limited != status && limited != kHexOutOfRange) std::abort();
  if (status >= 0 && limited < 0 && limited != kHexOutOfRange) std::abort();
  CheckingSink limitedSink(&kLimits);
  const std::int32_t limitedRows = LoadHexText(text, limitedSink, &kLimits);
  if (limited < 0 ? limitedRows != limited : limitedRows != limitedSink.programRows) std::abort();

  const auto hex = Folder() / "in.hex";
  if (std::FILE* f = std::fopen(hex.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  HexProblem fileProblem;
  if (CheckHexFile(hex, nullptr, &fileProblem) != status) std::abort();
  if (fileProblem.line != problem.line) std::abort();
  if (CheckHexFile(hex, &kLimits) != limited) std::abort();
  const ListFiles lists{Folder(), "progmem.lst", "eedata.lst", "userid.lst", "config.lst"};
  if (LoadHexFile(hex, lists) != rows) std::abort();
  if (rows >= 0) {
    // One 55-character row and a line end per program row.
    std::error_code ec;
    if (std::filesystem::file_size(Folder() / "progmem.lst", ec) != static_cast<std::uintmax_t>(rows) * 56)
      std::abort();
  }
  return 0;
}
