#include "hydrix/settings/measure_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "support/file_size_limit.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& p) {
  std::ifstream in(p);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

MeasureBlock Block() {
  MeasureBlock b{};
  b[0] = 0xC0, b[1] = 0x30;  // 12480 mV
  b[2] = 0xFB, b[3] = 0xFF;  // -5 degrees
  b[4] = 0xDC, b[5] = 0x05;  // 1500 mA
  b[20] = 6;                 // normal state
  b[24] = 1;
  b[12] = 0x40, b[13] = 0x9C;  // 40000: -25536
  return b;
}

TEST(MeasureLog, HeaderOnceThenOneFlushedLinePerReading) {
  const fs::path file = fs::temp_directory_path() / ("hydrix-log-" + std::to_string(::getpid()) + ".csv");
  fs::remove(file);
  const auto when = std::chrono::system_clock::now();
  {
    MeasureLog log;
    ASSERT_EQ(log.Open(file), "");
    ASSERT_EQ(log.Append(when, Block()), "");
    // Flushed: readable before the log closes.
    ASSERT_EQ(Lines(file).size(), 2u);
  }
  MeasureLog again;
  ASSERT_EQ(again.Open(file), "");  // an existing log gets no second header
  ASSERT_EQ(again.Append(when, MeasureBlock{}), "");
  const auto lines = Lines(file);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], MeasureLogHeader());
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d,.*)")))
      << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].find(',')), ",12.480,-5,1500,0,1,0,0,0,6,Normal state,0,-25536,0,0");
  EXPECT_EQ(lines[2].substr(lines[2].find(',')), ",0.000,0,0,0,0,0,0,0,0,,0,0,0,0");
  // As many columns in every line as in the header.
  for (const auto& l : lines) EXPECT_EQ(std::count(l.begin(), l.end(), ','), 14) << l;
  fs::remove(file);
}

TEST(MeasureLog, AFileThatCannotBeWrittenIsToldAndClosesTheLog) {
  MeasureLog log;
  const std::string why = log.Open("/nonexistent-folder/measures.csv");
  EXPECT_NE(why.find("/nonexistent-folder/measures.csv"), std::string::npos);
  EXPECT_FALSE(log.IsOpen());

  // Devices and FIFOs are refused at once, without waiting for a reader.
  EXPECT_EQ(log.Open("/dev/full"),
            "The measure log /dev/full cannot be written: it is a character device, not a regular file.");
  const fs::path fifo = fs::temp_directory_path() / ("hydrix-log-fifo-" + std::to_string(::getpid()));
  fs::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(log.Open(fifo),
            "The measure log " + fifo.string() + " cannot be written: it is a FIFO, not a regular file.");
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_FALSE(log.IsOpen());
  fs::remove(fifo);
}

// A full disk stops the log with its reason and leaves whole lines only; a
// log that ends with part of a line (a crash) gets a line end before the next
// row instead of having it glued on.
TEST(MeasureLog, TheFileEndsWithWholeLinesAfterAFullDisk) {
  const fs::path file =
      fs::temp_directory_path() / ("hydrix-log-full-" + std::to_string(::getpid()) + ".csv");
  fs::remove(file);
  const auto when = std::chrono::system_clock::now();
  MeasureLog log;
  ASSERT_EQ(log.Open(file), "");
  ASSERT_EQ(log.Append(when, Block()), "");
  {
    test::FileSizeLimit full(fs::file_size(file) + 40);  // room for part of one more line
    const std::string why = log.Append(when, Block());
    EXPECT_EQ(
        why, "The measure log " + file.string() + " could not be written (File too large); logging stopped.");
  }
  EXPECT_FALSE(log.IsOpen());
  auto lines = Lines(file);
  ASSERT_EQ(lines.size(), 2u);
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.back(), '\n');

  // A half line left behind by a crash.
  std::ofstream(file, std::ios::app | std::ios::binary) << "2026-12-08T09:41:42+00:00,12.3";
  ASSERT_EQ(log.Open(file), "");
  ASSERT_EQ(log.Append(when, Block()), "");
  lines = Lines(file);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "2026-12-08T09:41:42+00:00,12.3");
  EXPECT_EQ(lines[3].substr(lines[3].find(',')), lines[1].substr(lines[1].find(',')));
  fs::remove(file);
}

// Rows go only under this log's own header: another program's CSV or random
// bytes are refused untouched, naming the file; a file holding only a
// byte-order mark gets the header after it.
TEST(MeasureLog, AppendsOnlyUnderItsOwnHeader) {
  const fs::path file =
      fs::temp_directory_path() / ("hydrix-log-foreign-" + std::to_string(::getpid()) + ".csv");
  const auto when = std::chrono::system_clock::now();
  MeasureLog log;
  for (const std::string foreign :
       std::vector<std::string>{"name,value\nx,1\n", std::string("\x89PNG\r\n\x1a\n\0\0", 10),
                                "\xEF\xBB\xBFname\n", MeasureLogHeader() + ",extra\n"}) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << foreign;
    EXPECT_EQ(log.Open(file), "The measure log " + file.string() +
                                  " cannot be written: its first line is not the header of a measure log, so "
                                  "it is taken for another program's file.");
    EXPECT_FALSE(log.IsOpen());
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), foreign);
  }
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "\xEF\xBB\xBF";
  ASSERT_EQ(log.Open(file), "");
  ASSERT_EQ(log.Append(when, Block()), "");
  log.Close();
  ASSERT_EQ(log.Open(file), "");  // its own header, after the mark
  const auto lines = Lines(file);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "\xEF\xBB\xBF" + MeasureLogHeader());
  fs::remove(file);
}

}  // namespace
}  // namespace hx
