// The record of the last serial number written: what it accepts, what it
// keeps, and its lock against a second holder.
#include "hydrix/calibration/serial_sequence.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace hx {
namespace {

namespace fs = std::filesystem;

TEST(SerialSequence, TheRecordKeepsTheHighestSerialAndHasOneHolderAtATime) {
  const fs::path folder = fs::temp_directory_path() / ("hx-serials-" + std::to_string(::getpid())) / "hydrix";
  fs::remove_all(folder.parent_path());
  SerialSequence sequence(folder);
  EXPECT_FALSE(sequence.Read().value);
  EXPECT_TRUE(sequence.Read().ok());
  EXPECT_NE(sequence.Record(5), "");  // never without the lock
  ASSERT_EQ(sequence.Lock(std::chrono::milliseconds(0)), "");
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

  SerialSequence other(folder);
  EXPECT_NE(other.Lock(std::chrono::milliseconds(50)).find("Another program is writing a serial number ("),
            std::string::npos);
  EXPECT_EQ(sequence.Record(0), "");  // not a serial of the line
  EXPECT_FALSE(fs::exists(sequence.File()));
  EXPECT_EQ(sequence.Record(2147483646), "");
  EXPECT_EQ(sequence.Record(17), "");  // lower: the record keeps the higher
  EXPECT_EQ(sequence.Read().value, 2147483646);
  EXPECT_EQ(NextSerial(sequence.Read()), 2147483647);
  EXPECT_EQ(sequence.Record(2147483647), "");
  EXPECT_EQ(NextSerial(sequence.Read()), std::nullopt);
  sequence.Unlock();
  EXPECT_EQ(other.Lock(std::chrono::milliseconds(0)), "");

  // Written by hand: a line end of either kind; anything else is a problem
  // the record never overwrites.
  std::ofstream(sequence.File()) << "00123\r\n";
  EXPECT_EQ(sequence.Read().value, 123);
  std::ofstream(sequence.File()) << "12 3\n";
  EXPECT_NE(other.Read().problem.find("(it reads \"12 3?\")"), std::string::npos) << other.Read().problem;
  EXPECT_EQ(other.Record(500), other.Read().problem);
  fs::remove_all(folder.parent_path());
}

}  // namespace
}  // namespace hx
