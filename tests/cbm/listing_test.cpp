#include "cbm/listing.h"

#include <gtest/gtest.h>

#include "support/disk_builder.h"

namespace kelvane {
namespace {

using testing::PaddedName;

// Screen codes back to readable text: codes 0-31 are @, A-Z, [ .. _ ; 32-63 are as in ASCII.
std::string CellsText(const TDkListCells& cells) {
  std::string text;
  for (const TDkListCell& cell : cells) {
    text += static_cast<char>(cell.Code < 0x20 ? cell.Code + 0x40 : cell.Code);
  }
  return text;
}

std::string Ascii(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TDkCbmEntry Entry(const Bytes& name, int blocks, bool closed = true, bool locked = false,
                  TDkCbmFileType type = cftPRG) {
  TDkCbmEntry entry;
  entry.NameBytes = name;
  entry.Blocks = blocks;
  entry.Closed = closed;
  entry.Locked = locked;
  entry.FileType = type;
  return entry;
}

TDkListCells List(const TDkCbmEntry& entry, std::uint8_t& color) {
  return DkListBasicLine(entry.Blocks, DkCbmEntryLineBody(entry), color);
}

// LIST prints the block count, one space and the line as the drive sends it: the opening quote
// in column 5 for one to four digits, the type in columns 24-26, as on the machine's screen.
TEST(ScreenCodes, TheMachinesMapping) {
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {
      {0x00, 0x80}, {0x1F, 0x9F}, {0x20, 0x20}, {0x3F, 0x3F}, {0x40, 0x00},
      {0x5F, 0x1F}, {0x60, 0x40}, {0x7F, 0x5F}, {0x80, 0xC0}, {0x9F, 0xDF},
      {0xA0, 0x60}, {0xBF, 0x7F}, {0xC0, 0x40}, {0xFE, 0x7E}, {0xFF, 0x5E}};
  for (const auto& [in, out] : cases) EXPECT_EQ(DkPetsciiToScreenCode(in), out) << int{in};
}

TEST(EntryLine, ColumnsAsTheMachinePrintsThem) {
  const TDkCbmEntry hello = Entry(PaddedName("HELLO"), 1);
  EXPECT_EQ(Ascii(DkCbmEntryLineBody(hello)), "   \"HELLO\"            PRG ");
  std::uint8_t color = kListStartColor;
  const TDkListCells cells = List(hello, color);
  EXPECT_EQ(CellsText(cells), "1    \"HELLO\"            PRG ");
  EXPECT_EQ(cells[0].Color, kListStartColor);
  EXPECT_FALSE(cells[5].Reverse);

  // An unclosed, locked file with text behind the padding; every count of digits up to four
  // keeps the columns, five push them one right as the line number does on the machine.
  Bytes name = PaddedName("AB");
  name[3] = 'X';
  for (const int blocks : {9, 10, 999, 1000, 10000}) {
    const std::string digits = std::to_string(blocks);
    EXPECT_EQ(CellsText(List(Entry(name, blocks, false, true, cftSEQ), color)),
              digits +
                  std::string(std::max<std::size_t>(5, digits.size() + 1) - digits.size(), ' ') +
                  "\"AB\"X             *SEQ<")
        << blocks;
  }
}

TEST(ListModel, ReverseOnOutsideQuotesAndAsSymbolInside) {
  // A $12 in the name sits inside the quotes: it shows as a reverse "R".
  Bytes name = PaddedName("A");
  name[1] = 0x12;
  std::uint8_t color = kListStartColor;
  TDkListCells cells = List(Entry(name, 1), color);
  EXPECT_EQ(cells[7].Code, 0x12);
  EXPECT_TRUE(cells[7].Reverse);
  EXPECT_FALSE(cells[8].Reverse);

  // Outside the quotes (after the closing quote) it turns reverse on for the rest of the line.
  name = PaddedName("A");
  name[2] = 0x12;
  cells = List(Entry(name, 1), color);
  const std::size_t after = CellsText(cells).find('"', 6);
  ASSERT_NE(after, std::string::npos);
  EXPECT_FALSE(cells[after].Reverse);
  EXPECT_TRUE(cells.back().Reverse);
}

TEST(ListModel, DeleteClosesUpAndKeepsTheLength) {
  std::uint8_t color = kListStartColor;
  // DEL removes the closing quote; C takes its place.
  EXPECT_EQ(CellsText(DkListBasicLine(5, Bytes{'"', 'A', 'B', '"', 0x14, 'C'}, color)), "5 \"ABC");
  // DEL last: the line closes up but keeps its length, ending in a blank.
  const TDkListCells cells = DkListBasicLine(5, Bytes{'"', 'A', 'B', '"', 0x14}, color);
  EXPECT_EQ(CellsText(cells), "5 \"AB ");
  // On a full 80-cell line in reverse, the cell the line closes up from is a plain blank.
  Bytes full = {0x12};
  full.insert(full.end(), 78, 'A');
  full.push_back(0x14);
  const TDkListCells closed = DkListBasicLine(5, full, color);
  ASSERT_EQ(closed.size(), 80u);
  EXPECT_TRUE(closed[78].Reverse);
  EXPECT_EQ(closed[79].Code, 0x20);
  EXPECT_FALSE(closed[79].Reverse);
  // DELs at the start of the body eat into the line number, as on the machine; past column 0
  // there is nothing left to delete.
  EXPECT_EQ(CellsText(DkListBasicLine(5, Bytes{0x14, 0x14, 0x14, 'Q'}, color)), "Q ");
}

TEST(ListModel, ReturnEndsTheLineAndTokensExpandOnlyOutsideQuotes) {
  std::uint8_t color = kListStartColor;
  EXPECT_EQ(CellsText(DkListBasicLine(1, Bytes{'A', 0x0D, 'B'}, color)), "1 A");
  EXPECT_EQ(CellsText(DkListBasicLine(1, Bytes{0x99, ' ', 0xCB, 0xCC}, color)), "1 PRINT GO\x4C");

  const TDkListCells quoted = DkListBasicLine(1, Bytes{'"', 0x99, '"'}, color);
  EXPECT_EQ(quoted[3].Code, 0x59);
  EXPECT_TRUE(quoted[3].Reverse);
  EXPECT_EQ(CellsText(DkListBasicLine(1, Bytes{'A', 0, 'B'}, color)), "1 A");
}

TEST(ListModel, LineNumbersAreClampedToSixteenBits) {
  std::uint8_t color = kListStartColor;
  EXPECT_EQ(CellsText(DkListBasicLine(65535, Bytes{'A'}, color)), "65535 A");
  EXPECT_EQ(CellsText(DkListBasicLine(65536, Bytes{'A'}, color)), "65535 A");
}

TEST(ListModel, ColourCodesCarryToLaterLines) {
  std::uint8_t color = kListStartColor;
  const TDkListCells first = DkListBasicLine(1, Bytes{'A', 0x1C, 'B'}, color);
  EXPECT_EQ(first[2].Color, kListStartColor);
  EXPECT_EQ(first[3].Color, 2);
  EXPECT_EQ(color, 2);
  const TDkListCells second = DkListBasicLine(2, Bytes{'C', 0x05, 'D', 0x1E, 0x1F}, color);
  EXPECT_EQ(second[0].Color, 2);
  EXPECT_EQ(second[3].Color, 1);
  EXPECT_EQ(color, 6);
}

TEST(ListModel, CursorRightAndTheEightyCellLimit) {
  std::uint8_t color = kListStartColor;
  const TDkListCells moved = DkListBasicLine(1, Bytes{0x1D, 0x1D, 'X'}, color);
  EXPECT_EQ(CellsText(moved), "1   X");
  // A cell the cursor only passes keeps the screen's blank, even with reverse on.
  const TDkListCells passed = DkListBasicLine(1, Bytes{0x12, 0x1D, 'X'}, color);
  ASSERT_EQ(CellsText(passed), "1  X");
  EXPECT_FALSE(passed[2].Reverse);
  EXPECT_TRUE(passed[3].Reverse);

  const Bytes long_body(200, 'Z');
  const TDkListCells cut = DkListBasicLine(1, long_body, color);
  EXPECT_EQ(cut.size(), 80u);
  EXPECT_EQ(cut.back().Code, 'Z' - 0x40);
}

TEST(HeaderAndFreeLines, Bytes) {
  const Bytes id = {'1', '2', 0xA0, '2', 'A'};
  EXPECT_EQ(Ascii(DkCbmHeaderLineBytes(PaddedName("DISK"), id, false)),
            "0 \"DISK\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\xA0\" 12\xA0"
            "2A");
  EXPECT_EQ(Ascii(DkCbmHeaderLineBytes(Bytes{'X'}, Bytes{}, true)),
            " 0 \"X               \"      ");
  EXPECT_EQ(Ascii(DkCbmBlocksFreeLineBytes(664)), "664 BLOCKS FREE.");
}

}  // namespace
}  // namespace kelvane
