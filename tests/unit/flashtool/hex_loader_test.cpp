// The Intel HEX loader: validation statuses, rows of the list files, and
// the records that loaders often get wrong.
#include "flashtool/hex_loader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <csignal>

#include "flash_test_support.h"

using namespace hx::flash;
using namespace hx::flash::test;

namespace {

struct Row {
  ListKind kind;
  std::uint32_t address;
  std::vector<std::uint8_t> bytes;
};

class CollectRows : public RowSink {
 public:
  bool Row(ListKind kind, std::uint32_t address, const std::uint8_t* b) override {
    rows.push_back({kind, address, std::vector<std::uint8_t>(b, b + 16)});
    return true;
  }
  std::vector<::Row> rows;
};

std::vector<std::uint8_t> Ff(std::size_t n) { return std::vector<std::uint8_t>(n, 0xFF); }
std::vector<std::uint8_t> Cat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const std::string kEnd = ":00000001FF\n";
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

struct StatusCase {
  const char* name;
  std::string text;
  std::int16_t status;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class CheckStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(CheckStatus, OfText) { EXPECT_EQ(CheckHexText(GetParam().text), GetParam().status); }

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckStatus,
    ::testing::Values(
        StatusCase{"Empty", "", kHexEmpty}, StatusCase{"OnlyEnd", kEnd, kHexValid},
        StatusCase{"EndWithoutNewline", ":00000001FF", kHexValid},
        StatusCase{"ChecksumOffByOne", HexRecord(0, 0, {1, 2}).substr(0, 13) + "FC\n" + kEnd, kHexBadRecord},
        StatusCase{"BlankAndIndentedLines", "\n \t:junk\n\t\n" + HexRecord(0, 0, {1}) + "\n" + kEnd,
                   kHexValid},
        StatusCase{"HashLine", "# comment\n" + kEnd, kHexBadLine},
        StatusCase{"NoEndRecord", HexRecord(0, 0, {1, 2, 3}) + "\n", kHexNoEnd},
        StatusCase{"OnlyANewline", "\n", kHexNoEnd},
        StatusCase{"AfterEndIgnored", kEnd + "garbage\n:zz\n", kHexValid},
        StatusCase{"LowerCase", Lower(HexRecord(0, 0xab10, {0x41, 0xAB, 0x12, 0xCD})) + "\n:00000001ff\n",
                   kHexValid},
        StatusCase{"CrLf", HexRecord(0, 0x10, {1, 2}) + "\r\n:00000001FF\r\n", kHexValid},
        StatusCase{"TrailingBlanks", HexRecord(0, 0x10, {1, 2}) + "  \t\r\n" + kEnd, kHexValid},
        StatusCase{"CountLongerThanLine", ":10000000010203\n" + kEnd, kHexBadRecord},
        StatusCase{"CountShorterThanLine", ":0100000001FE00\n" + kEnd, kHexBadRecord},
        StatusCase{"OddDigitCount", ":0100000001FE0\n" + kEnd, kHexBadRecord},
        StatusCase{"NotHexDigits", ":01000000G1FE\n" + kEnd, kHexBadRecord},
        StatusCase{"TooShort", ":00\n" + kEnd, kHexBadRecord},
        StatusCase{"Type04WithOneByte", HexRecord(4, 0, {1}) + "\n" + kEnd, kHexBadRecord},
        StatusCase{"Type02And03And05",
                   HexRecord(2, 0, {0x10, 0}) + "\n" + HexRecord(3, 0, {0, 0, 1, 2}) + "\n" +
                       HexRecord(5, 0, {0, 0, 2, 0}) + "\n" + kEnd,
                   kHexValid}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HexRows, EightBytesAtOffsetEightFillTheFirstHalfWithFf) {
  CollectRows sink;
  ASSERT_EQ(LoadHexText(HexRecord(0, 0x0008, {1, 2, 3, 4, 5, 6, 7, 8}) + "\n" + kEnd, sink), 1);
  ASSERT_EQ(sink.rows.size(), 1u);
  EXPECT_EQ(sink.rows[0].address, 0u);
  EXPECT_EQ(sink.rows[0].bytes, Cat(Ff(8), {1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(HexRows, SixteenBytesAcrossABoundaryGiveTwoHalfRows) {
  CollectRows sink;
  std::vector<std::uint8_t> data(16);
  for (int i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>(i);
  ASSERT_EQ(LoadHexText(HexRecord(0, 0x0008, data) + "\n" + kEnd, sink), 2);
  EXPECT_EQ(sink.rows[0].address, 0x00u);
  EXPECT_EQ(sink.rows[1].address, 0x10u);
  EXPECT_EQ(sink.rows[0].bytes, Cat(Ff(8), {0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(sink.rows[1].bytes, Cat({8, 9, 10, 11, 12, 13, 14, 15}, Ff(8)));
}

TEST(HexRows, TwoRecordsInOneRowStaySeparateRows) {
  CollectRows sink;
  ASSERT_EQ(LoadHexText(HexRecord(0, 0, Ff(8)) + "\n" + HexRecord(0, 8, {1}) + "\n" + kEnd, sink), 2);
  EXPECT_EQ(sink.rows[0].address, 0u);
  EXPECT_EQ(sink.rows[1].address, 0u);
}

TEST(HexRows, UpperAddressChoosesTheList) {
  CollectRows sink;
  const std::string text = HexRecord(4, 0, {0, 0x20}) + "\n" + HexRecord(0, 0x0004, {0xAB}) + "\n" +
                           HexRecord(4, 0, {0, 0x30}) + "\n" + HexRecord(0, 0x0002, {0x1F}) + "\n" +
                           HexRecord(4, 0, {0, 0xF0}) + "\n" + HexRecord(0, 0x00F5, {0x55}) + "\n" +
                           HexRecord(4, 0, {0, 0x21}) + "\n" + HexRecord(0, 0x0000, {0x99}) + "\n" +
                           HexRecord(4, 0, {0, 0x01}) + "\n" + HexRecord(0, 0x0010, {0x42}) + "\n" +
                           HexRecord(2, 0, {0x10, 0x00}) + "\n" + HexRecord(0, 0x0020, {0x43}) + "\n" + kEnd;
  ASSERT_EQ(LoadHexText(text, sink), 2);
  ASSERT_EQ(sink.rows.size(), 5u);
  EXPECT_EQ(sink.rows[0].kind, ListKind::UserId);
  EXPECT_EQ(sink.rows[0].address, 0x200000u);
  EXPECT_EQ(sink.rows[1].kind, ListKind::Config);
  EXPECT_EQ(sink.rows[1].address, 0x300000u);
  EXPECT_EQ(sink.rows[2].kind, ListKind::Eeprom);
  EXPECT_EQ(sink.rows[2].address, 0x0000F0u);
  EXPECT_EQ(sink.rows[3].kind, ListKind::Program);  // 0x0021 was dropped
  EXPECT_EQ(sink.rows[3].address, 0x010010u);
  EXPECT_EQ(sink.rows[4].address, 0x010020u);  // type 02 left the upper address alone
}

TEST(HexRows, RecordsOf255BytesAndOfNoneAndDataAfterTheEnd) {
  CollectRows sink;
  std::vector<std::uint8_t> big(255);
  for (int i = 0; i < 255; ++i) big[i] = static_cast<std::uint8_t>(i);
  const std::string text = HexRecord(0, 0xFFFF, big) + "\n" + HexRecord(0, 0x0100, {}) + "\n" + kEnd +
                           HexRecord(0, 0x0000, {1}) + "\n";
  ASSERT_EQ(LoadHexText(text, sink), 17);
  EXPECT_EQ(sink.rows.front().address, 0xFFF0u);
  EXPECT_EQ(sink.rows.front().bytes[15], 0);
  EXPECT_EQ(sink.rows.back().address, 0xFFF0u + 16 * 16);
  EXPECT_EQ(sink.rows.back().bytes[13], 254);
  EXPECT_EQ(sink.rows.back().bytes[14], 0xFF);
}

TEST(HexPad, PadsAndUsesUpperCase) {
  EXPECT_EQ(HexPad(0xab, 2), "AB");
  EXPECT_EQ(HexPad(0x5, 2), "05");
  EXPECT_EQ(HexPad(0x200, 6), "000200");
  EXPECT_EQ(HexPad(144, 0), "90");
  EXPECT_EQ(HexPad(0, 0), "0");
}

TEST(ListRow, Is55CharactersEndingInASpaceAndReadsBack) {
  std::uint8_t b[16];
  for (int i = 0; i < 16; ++i) b[i] = static_cast<std::uint8_t>(0xF0 + i);
  const std::string row = FormatListRow(0x000800, b);
  EXPECT_EQ(row, "000800 F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF ");
  std::uint32_t a = 0;
  std::uint8_t back[16];
  ASSERT_TRUE(ParseListRow(row + "\r", a, back));
  EXPECT_EQ(a, 0x800u);
  EXPECT_EQ(std::vector<std::uint8_t>(back, back + 16), std::vector<std::uint8_t>(b, b + 16));
  EXPECT_FALSE(ParseListRow("000800 F0", a, back));
}

class HexFiles : public ::testing::Test {
 protected:
  ListFiles Lists() const { return {folder.path(), "progmem.lst", "eedata.lst", "userid.lst", "config.lst"}; }
  TempFolder folder;
};

TEST_F(HexFiles, WritesTheFourListsInTheProgramsFolder) {
  folder.Write("a.hex", HexRecord(0, 0x0208, {0x12, 0x34}) + "\r\n" + HexRecord(4, 0, {0, 0x30}) + "\r\n" +
                            HexRecord(0, 2, {0x1F, 0x0F}) + "\r\n" + ":00000001FF\r\n");
  std::string warning;
  ASSERT_EQ(LoadHexFile(folder.path() / "a.hex", Lists(), &warning), 1);
  EXPECT_EQ(warning, "");
  EXPECT_EQ(folder.Read("progmem.lst"), "000200 FF FF FF FF FF FF FF FF 12 34 FF FF FF FF FF FF \n");
  EXPECT_EQ(folder.Read("config.lst"), "300000 FF FF 1F 0F FF FF FF FF FF FF FF FF FF FF FF FF \n");
  EXPECT_EQ(folder.Read("eedata.lst"), "");
  EXPECT_EQ(folder.Read("userid.lst"), "");
  EXPECT_FALSE(folder.Exists("progmem.lst.part"));
}

TEST_F(HexFiles, AFailedValidationLeavesTheOldListsAlone) {
  folder.Write("progmem.lst", "old\n");
  folder.Write("bad.hex", ":0100000001FF\n" + kEnd);  // checksum off by one
  EXPECT_EQ(LoadHexFile(folder.path() / "bad.hex", Lists()), kHexBadRecord);
  EXPECT_EQ(folder.Read("progmem.lst"), "old\n");
  EXPECT_EQ(LoadHexFile(folder.path() / "missing.hex", Lists()), kHexUnreadable);
  EXPECT_EQ(LoadHexFile(folder.path(), Lists()), kHexUnreadable);
  folder.Write("empty.hex", "");
  EXPECT_EQ(LoadHexFile(folder.path() / "empty.hex", Lists()), kHexEmpty);
}

TEST_F(HexFiles, AListThatCannotBeCreatedGivesAWarningAndKeepsTheOldLists) {
  folder.Write("progmem.lst", "old\n");
  folder.Write("a.hex", MakeHex(0x200, {1, 2, 3}));
  ListFiles lists = Lists();
  lists.userid = "";  // no name in the parameter file
  std::string warning;
  EXPECT_EQ(LoadHexFile(folder.path() / "a.hex", lists, &warning), -1);
  EXPECT_EQ(warning, "ERR 2/5 (No such file or directory)");
  EXPECT_EQ(folder.Read("progmem.lst"), "old\n");
  EXPECT_FALSE(folder.Exists("progmem.lst.part"));
  lists = Lists();
  lists.config = "no/such/folder/config.lst";
  EXPECT_EQ(LoadHexFile(folder.path() / "a.hex", lists, &warning), -1);
  EXPECT_EQ(warning, "ERR 2/6 (No such file or directory)");
}

TEST_F(HexFiles, AListBeyondTheFileSizeLimitIsNamedAndLeavesNothingBehind) {
  folder.Write("progmem.lst", "old\n");
  folder.Write("big.hex", MakeHex(0x200, std::vector<std::uint8_t>(30000, 0x12)));
  // As under "ulimit -f": writes past the limit fail with EFBIG (the program ignores SIGXFSZ).
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limited = old;
  limited.rlim_cur = 32 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string warning;
  HexProblem problem;
  const auto rows = LoadHexFile(folder.path() / "big.hex", Lists(), &warning, nullptr, &problem);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(rows, -1);
  EXPECT_EQ(warning, "ERR 27/8 (File too large)");
  EXPECT_EQ(problem.Text(), (folder.path() / "progmem.lst").string() + ": File too large");
  EXPECT_EQ(folder.Read("progmem.lst"), "old\n");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder.path()))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"big.hex", "flashtool.INI", "progmem.lst"}));
}

TEST_F(HexFiles, OnlyAnEndRecordConvertsToNoRows) {
  folder.Write("end.hex", kEnd);
  EXPECT_EQ(LoadHexFile(folder.path() / "end.hex", Lists()), 0);
  EXPECT_EQ(folder.Read("progmem.lst"), "");
}

TEST_F(HexFiles, LongFilesAcrossReadBlocksMatchTheTextLoader) {
  std::vector<std::uint8_t> data(40000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  const std::string text = MakeHex(0x0, data, 32) + "\n";
  folder.Write("big.hex", text);
  CollectRows sink;
  const auto rows = LoadHexText(text, sink);
  EXPECT_EQ(LoadHexFile(folder.path() / "big.hex", Lists()), rows);
  EXPECT_EQ(rows, 2500);
  std::string expected;
  for (const auto& r : sink.rows) expected += FormatListRow(r.address, r.bytes.data()) + "\n";
  EXPECT_EQ(folder.Read("progmem.lst"), expected);
}

// What is checked beyond the syntax: segments, addresses given twice, the
// memory allowed, line length, the kind of file.
namespace {
const HexLimits kArvelLimits{
    {{0x200, 0x7FFF}, {0xF00000, 0xF000FF}, {0x200000, 0x200007}, {0x300000, 0x30000D}}};
}  // namespace

TEST(HexRows, SegmentRecordsMoveTheDataAsTheFormatSays) {
  // Segment 0x0020: base 0x200. Offsets wrap within the 64 KB segment.
  const std::string text = HexRecord(2, 0, {0x00, 0x20}) + "\n" + HexRecord(0, 0x0004, {0xAA, 0xBB}) + "\n" +
                           HexRecord(2, 0, {0x0F, 0xFF}) + "\n" +  // base 0xFFF0
                           HexRecord(0, 0xFFFE, {1, 2, 3}) + "\n" + kEnd;
  CollectRows sink;
  ASSERT_EQ(LoadHexText(text, sink), 3);
  ASSERT_EQ(sink.rows.size(), 3u);
  EXPECT_EQ(sink.rows[0].address, 0x200u);
  EXPECT_EQ(sink.rows[0].bytes, Cat(Cat(Ff(4), {0xAA, 0xBB}), Ff(10)));
  // 0xFFF0 + 0xFFFE = 0x1FFEE: bytes 1, 2 there; byte 3 wraps to offset 0 = 0xFFF0.
  EXPECT_EQ(sink.rows[1].address, 0x1FFE0u);
  EXPECT_EQ(sink.rows[1].bytes, Cat(Cat(Ff(14), {1, 2}), {}));
  EXPECT_EQ(sink.rows[2].address, 0xFFF0u);
  EXPECT_EQ(sink.rows[2].bytes, Cat({3}, Ff(15)));
}

TEST(HexCheck, AByteGivenTwiceIsRefusedWithItsLine) {
  HexProblem problem;
  const std::string twice = HexRecord(0, 0x200, {1, 2, 3, 4}) + "\n" + HexRecord(0, 0x208, {5}) + "\n" +
                            HexRecord(0, 0x203, {9, 9}) + "\n" + kEnd;
  EXPECT_EQ(CheckHexText(twice, nullptr, &problem), kHexOverlap);
  EXPECT_EQ(problem.Text(), "Line 3: address 000203 is given data twice");
  // The same byte through a segment and a linear address.
  const std::string aliased = HexRecord(0, 0x210, {1}) + "\n" + HexRecord(2, 0, {0, 0x20}) + "\n" +
                              HexRecord(0, 0x10, {1}) + "\n" + kEnd;
  EXPECT_EQ(CheckHexText(aliased, nullptr, &problem), kHexOverlap);
  EXPECT_EQ(problem.line, 3);
  // Records that only share a 16-byte row are fine.
  EXPECT_EQ(CheckHexText(HexRecord(0, 0x200, {1, 2}) + "\n" + HexRecord(0, 0x202, {3}) + "\n" + kEnd),
            kHexValid);
}

struct RangeCase {
  const char* name;
  std::string text;
  std::int16_t status;
  const char* reason;
};
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }
class CheckRanges : public ::testing::TestWithParam<RangeCase> {};

TEST_P(CheckRanges, AgainstTheChipsMemory) {
  HexProblem problem;
  EXPECT_EQ(CheckHexText(GetParam().text + kEnd, &kArvelLimits, &problem), GetParam().status);
  EXPECT_EQ(problem.Text(), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckRanges,
    ::testing::Values(
        RangeCase{"Application", HexRecord(0, 0x200, {1, 2}) + "\n", kHexValid, ""},
        RangeCase{"BootBlock", HexRecord(0, 0x1FE, {1, 2, 3}) + "\n", kHexOutOfRange,
                  "Line 1: address 0001FE is outside the memory to program"},
        RangeCase{"PastTheTop", HexRecord(0, 0x7FFE, {1, 2, 3}) + "\n", kHexOutOfRange,
                  "Line 1: address 008000 is outside the memory to program"},
        RangeCase{"SegmentIntoTheBootBlock", HexRecord(2, 0, {0, 0x10}) + "\n" + HexRecord(0, 0, {1}) + "\n",
                  kHexOutOfRange, "Line 2: address 000100 is outside the memory to program"},
        RangeCase{"EepromIdAndConfig",
                  HexRecord(4, 0, {0, 0xF0}) + "\n" + HexRecord(0, 0xFE, {1, 2}) + "\n" +
                      HexRecord(4, 0, {0, 0x20}) + "\n" + HexRecord(0, 0, {1, 2, 3, 4, 5, 6, 7, 8}) + "\n" +
                      HexRecord(4, 0, {0, 0x30}) + "\n" +
                      HexRecord(0, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}) + "\n",
                  kHexValid, ""},
        RangeCase{"PastTheEeprom", HexRecord(4, 0, {0, 0xF0}) + "\n" + HexRecord(0, 0xFF, {1, 2}) + "\n",
                  kHexOutOfRange, "Line 2: address F00100 is outside the memory to program"},
        RangeCase{"UnknownRegion", HexRecord(4, 0, {0, 0x21}) + "\n" + HexRecord(0, 0, {1}) + "\n",
                  kHexOutOfRange, "Line 2: address 210000 is outside the memory to program"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HexFiles, ALineLongerThanAnyRecordIsRefusedAtOnce) {
  // No line end at all: refused after the first line's worth, never read whole.
  folder.Write("zeros.hex", std::string(4 << 20, '\0'));
  HexProblem problem;
  EXPECT_EQ(CheckHexFile(folder.path() / "zeros.hex", nullptr, &problem), kHexLineTooLong);
  EXPECT_EQ(problem.Text(), "Line 1: longer than the longest record (521 characters)");
  const std::string longest = HexRecord(0, 0x200, std::vector<std::uint8_t>(255, 7));
  ASSERT_EQ(longest.size(), kMaxRecordLength);
  EXPECT_EQ(CheckHexText(longest + "\r\n" + kEnd), kHexValid);
  const std::string tooLong = kEnd.substr(0, 11) + std::string(kMaxRecordLength, ' ') + "\n";
  EXPECT_EQ(CheckHexText(longest + "\n" + tooLong), kHexLineTooLong);
  folder.Write("long.hex", longest + "\n" + tooLong);
  EXPECT_EQ(CheckHexFile(folder.path() / "long.hex", nullptr, &problem), kHexLineTooLong);
  EXPECT_EQ(problem.line, 2);
}

TEST_F(HexFiles, OnlyRegularFilesAreRead) {
  HexProblem problem;
  const auto fifo = folder.path() / "fifo.hex";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(CheckHexFile(fifo, nullptr, &problem), kHexUnreadable);  // does not wait for a writer
  EXPECT_EQ(problem.reason, "it is a FIFO, not a regular file");
  EXPECT_EQ(LoadHexFile(fifo, Lists()), kHexUnreadable);
  EXPECT_EQ(CheckHexFile("/dev/zero", nullptr, &problem), kHexUnreadable);
  EXPECT_EQ(CheckHexFile(folder.path(), nullptr, &problem), kHexUnreadable);
  EXPECT_EQ(CheckHexFile(folder.path() / "missing.hex", nullptr, &problem), kHexUnreadable);
  EXPECT_EQ(problem.reason, "No such file or directory");
}
