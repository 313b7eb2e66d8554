// Loading a HEX file of 256 KB of data (16-byte records, as assemblers
// write them) into the list files, side by side with srec_cat converting the
// same file. Run: build-bench/bin/hex_loader_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "flashtool/hex_loader.h"

namespace {

namespace fs = std::filesystem;
using namespace hx::flash;

std::string Record(unsigned type, unsigned address, const std::uint8_t* data, unsigned n) {
  unsigned sum = n + (address >> 8) + (address & 0xFF) + type;
  std::string s(1, ':');
  s += HexPad(n, 2);
  s += HexPad(address, 4);
  s += HexPad(type, 2);
  for (unsigned i = 0; i < n; ++i) {
    s += HexPad(data[i], 2);
    sum += data[i];
  }
  return s + HexPad((0x100 - (sum & 0xFF)) & 0xFF, 2) + "\r\n";
}

struct Files {
  fs::path folder, hex, small;
  Files() {
    char pattern[] = "/tmp/hex-bench-XXXXXX";
    folder = ::mkdtemp(pattern);
    hex = folder / "image.hex";
    small = folder / "small.hex";
    std::mt19937 random(42);
    std::string text;
    std::uint8_t row[16];
    constexpr unsigned kBytes = 256 * 1024;
    for (unsigned a = 0; a < kBytes; a += 16) {
      if ((a & 0xFFFF) == 0) {
        const std::uint8_t upper[2] = {0, static_cast<std::uint8_t>(a >> 16)};
        text += Record(4, 0, upper, 2);
      }
      for (auto& b : row) b = static_cast<std::uint8_t>(random());
      text += Record(0, a & 0xFFFF, row, 16);
    }
    text += ":00000001FF\r\n";
    std::ofstream(hex, std::ios::binary) << text;
    std::ofstream(small, std::ios::binary) << ":0100000001FE\r\n:00000001FF\r\n";
  }
  ~Files() { fs::remove_all(folder); }
};

const Files& TheFiles() {
  static const Files files;
  return files;
}

void BM_LoadHexFile(benchmark::State& state) {
  const auto& f = TheFiles();
  const ListFiles lists{f.folder, "progmem.lst", "eedata.lst", "userid.lst", "config.lst"};
  for (auto _ : state) {
    if (LoadHexFile(f.hex, lists) != 16384) state.SkipWithError("wrong row count");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(f.hex)));
}
BENCHMARK(BM_LoadHexFile)->Unit(benchmark::kMillisecond);

void BM_CheckHexFile(benchmark::State& state) {
  const auto& f = TheFiles();
  for (auto _ : state) benchmark::DoNotOptimize(CheckHexFile(f.hex));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(f.hex)));
}
BENCHMARK(BM_CheckHexFile)->Unit(benchmark::kMillisecond);

void RunSrecCat(benchmark::State& state, const fs::path& in, const char* format) {
  const auto& f = TheFiles();
  const std::string cmd = "srec_cat '" + in.string() + "' -Intel -o '" + (f.folder / "out.txt").string() +
                          "' " + format + " > /dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("srec_cat failed (is srecord installed?)");
  }
}

// srec_cat reading the same file and writing it back as Intel HEX, and as a
// hex dump (the closest to the list files).
void BM_SrecCatToIntel(benchmark::State& state) { RunSrecCat(state, TheFiles().hex, "-Intel"); }
BENCHMARK(BM_SrecCatToIntel)->Unit(benchmark::kMillisecond);
void BM_SrecCatToHexDump(benchmark::State& state) { RunSrecCat(state, TheFiles().hex, "-HEX_Dump"); }
BENCHMARK(BM_SrecCatToHexDump)->Unit(benchmark::kMillisecond);
// The part of the figures above that is only starting srec_cat (a file of
// one data byte).
void BM_SrecCatStartOnly(benchmark::State& state) { RunSrecCat(state, TheFiles().small, "-Intel"); }
BENCHMARK(BM_SrecCatStartOnly)->Unit(benchmark::kMillisecond);

}  // namespace
