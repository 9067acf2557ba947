// Lines fed one by one: a line of more numbers than a grid may have columns
// is refused at once, and the room made for the columns follows the length
// of the lines read rather than that of a short first line.
#include <gtest/gtest.h>

#include <string>

#include "datatext/conversion.h"

using namespace orvalle;

namespace {

std::string numbers(std::size_t count) {
  std::string line;
  line.reserve(count * 4);
  for (std::size_t k = 0; k < count; ++k)
    line += k ? " 1.5" : "1.5";
  return line;
}

} // namespace

TEST(WideLines, ALineOfMoreNumbersThanColumnsIsRefused) {
  // Col ZZZZ is the last column.
  EXPECT_EQ(columnname(kMaxColumns - 1), "Col ZZZZ");
  struct {
    std::size_t count;
    bool ok;
  } cases[] = {{static_cast<std::size_t>(kMaxColumns), true},
               {static_cast<std::size_t>(kMaxColumns) + 1, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.count);
    // As the first line, and as the third after two short ones.
    for (const bool first : {true, false}) {
      const std::string wide = numbers(c.count);
      const std::string head = first ? "" : "1 2 3\n4 5 6\n";
      chartconverter run("wide.txt", head.size() + wide.size() + 1);
      if (!first) {
        run.feed("1 2 3");
        run.feed("4 5 6");
      }
      run.feed(wide);
      const ConversionOutcome out = run.finish();
      EXPECT_EQ(out.ok(), c.ok) << out.error;
      if (c.ok) {
        EXPECT_EQ(out.result->grid.colcount(), kMaxColumns);
      } else {
        const std::string row = first ? "1" : "3";
        EXPECT_EQ(out.error, "Unable to Convert to Chart error on row " + row + ", column " +
                                 std::to_string(kMaxColumns + 1) +
                                 ": a line may hold at most 475254 numbers");
      }
    }
  }
}

TEST(WideLines, RoomFollowsTheLinesReadNotAShortFirstLine) {
  // A first line of 8 bytes, then lines of 24: room made from the first
  // alone would be three times what the rows need.
  const std::string first = "0 1 0.5";
  const std::string line = "1234.567 8901.2345 0.567";
  const std::size_t count = 40000;
  const std::size_t bytes = first.size() + 1 + count * (line.size() + 1);
  chartconverter run("room.txt", bytes);
  std::size_t mostroom = 0;
  run.feed(first);
  for (std::size_t k = 0; k < count; ++k) {
    run.feed(line);
    if (const numericgrid *g = run.filling())
      for (int c = 0; c < g->colcount(); ++c)
        mostroom = std::max(mostroom, g->room(c).bytes / sizeof(double));
  }
  const ConversionOutcome out = run.finish();
  ASSERT_TRUE(out.ok()) << out.error;
  const std::size_t rows = count + 2; // the header row and the first line too
  EXPECT_EQ(out.result->grid.rowcount(), static_cast<int>(rows));
  EXPECT_GE(mostroom, rows);
  EXPECT_LE(mostroom, rows + rows / 3 + 64) << "room for " << mostroom << " rows";
  EXPECT_EQ(out.result->grid.value(1, static_cast<int>(rows) - 1), 8901.2345);
}
