// Fuzzing the HEX loader: validation and conversion of arbitrary bytes, in
// memory and through files, must agree and stay within bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "flashtool/hex_loader.h"

namespace {

using namespace hx::flash;

class CheckingSink : public RowSink {
 public:
  bool Row(ListKind kind, std::uint32_t address, const std::uint8_t*) override {
    // Every row address fits the six digits of a list row.
    if (address > 0xFFFFFF) std::abort();
    if (kind == ListKind::Program) ++programRows;
    return true;
  }
  std::int32_t programRows = 0;
};

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
  const std::int16_t status = CheckHexText(text);
  CheckingSink sink;
  const std::int32_t rows = LoadHexText(text, sink);
  if (status < 0 ? rows != status : rows != sink.programRows) std::abort();

  const auto hex = Folder() / "in.hex";
  if (std::FILE* f = std::fopen(hex.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  if (CheckHexFile(hex) != status) std::abort();
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
