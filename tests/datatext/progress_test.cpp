// A progress observer follows a conversion without changing it: the same
// grid or datasets (or the same message) with and without one, and reports
// that only grow and end at the text's size. A grid column handed over
// as a row keeps its storage and its cells. The grid being filled shows
// where its numbers go (numericgrid::room, chartconverter::filling).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "datatext/conversion.h"

using namespace orvalle;

namespace {

struct report {
  std::size_t done, total;
};

// n lines of three columns; every line is 20 bytes with its line break.
std::string columns(std::size_t n) {
  std::string s;
  char line[32];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "%6zu %6zu 0.%03zu\n", i, 2 * i + 1, i % 997 + 1);
    s += line;
  }
  return s;
}

std::string tagged(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i)
    s += std::to_string(i) + " " + std::to_string(3 * i) + " 0.5 " + (i % 2 ? "a" : "b") + "\n";
  return s;
}

void expectsame(const ConversionOutcome &got, const ConversionOutcome &want, const char *name) {
  ASSERT_EQ(got.ok(), want.ok()) << name;
  EXPECT_EQ(got.error, want.error) << name;
  if (!got.ok())
    return;
  const ConversionResult &g = *got.result, &w = *want.result;
  ASSERT_EQ(g.grid.colcount(), w.grid.colcount()) << name;
  ASSERT_EQ(g.grid.rowcount(), w.grid.rowcount()) << name;
  // The same cells, empty ones (NaN) included.
  const auto same = [](double a, double b) { return a == b || (a != a && b != b); };
  for (int c = 0; c < g.grid.colcount(); ++c) {
    const std::vector<double> &gc = g.grid.column(c), &wc = w.grid.column(c);
    EXPECT_TRUE(gc.size() == wc.size() && std::equal(gc.begin(), gc.end(), wc.begin(), same))
        << name << " column " << c;
  }
  ASSERT_EQ(g.datasets.size(), w.datasets.size()) << name;
  for (std::size_t i = 0; i < g.datasets.size(); ++i) {
    EXPECT_EQ(g.datasets[i]->name, w.datasets[i]->name) << name;
    EXPECT_EQ(g.datasets[i]->x->data, w.datasets[i]->x->data) << name;
    EXPECT_EQ(g.datasets[i]->y->data, w.datasets[i]->y->data) << name;
    EXPECT_EQ(g.datasets[i]->yerr->data, w.datasets[i]->yerr->data) << name;
  }
}

} // namespace

TEST(ConversionProgress, ObserverChangesNothingAndEndsAtTheTotal) {
  const std::size_t many = 5 * chartconverter::kProgressLines + 17;
  std::string bad = columns(many);
  bad.replace(bad.size() - 20, 6, "    x "); // the last line's first field
  const struct {
    const char *name;
    std::string text;
    std::size_t atleast; // reports before the final one
  } cases[] = {
      {"columns", columns(many), 5},
      {"columns with CR LF and comments", "# run 1\r\n\r\n" + columns(3 * 8192), 3},
      {"tagged", tagged(2 * chartconverter::kProgressLines + 3), 2},
      {"bad last line", bad, 5},
      {"few lines", columns(3), 0},
      {"empty", "", 0},
  };
  for (const auto &c : cases) {
    const textlines lines = textlines::fromText(c.text);
    std::vector<report> seen;
    const ConversionOutcome with =
        ConvertToChart(lines, "/data/p.txt", [&](std::size_t done, std::size_t total) {
          seen.push_back({done, total});
        });
    const ConversionOutcome without = ConvertToChart(lines, "/data/p.txt");
    expectsame(with, without, c.name);

    ASSERT_GE(seen.size(), c.atleast + 1) << c.name;
    // Reported every kProgressLines lines, not per line.
    EXPECT_LE(seen.size(), lines.size() / chartconverter::kProgressLines + 1) << c.name;
    for (std::size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(seen[i].total, lines.bytes()) << c.name;
      EXPECT_LE(seen[i].done, seen[i].total) << c.name;
      if (i > 0) {
        EXPECT_GT(seen[i].done, seen[i - 1].done) << c.name << " report " << i;
      }
    }
    EXPECT_EQ(seen.back().done, lines.bytes()) << c.name;
  }
}

TEST(ConversionProgress, ReportsCountTheBytesFed) {
  // 20-byte lines: after k * kProgressLines lines, k * kProgressLines * 20
  // bytes are done.
  const std::size_t n = 3 * chartconverter::kProgressLines;
  const std::string text = columns(n);
  chartconverter run("/data/p.txt", text.size(), n);
  std::vector<report> seen;
  run.observe([&](std::size_t done, std::size_t total) { seen.push_back({done, total}); });
  const textlines lines = textlines::fromText(text);
  for (std::size_t j = 0; j < lines.size(); ++j)
    ASSERT_TRUE(run.feed(lines[j]));
  ASSERT_EQ(seen.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_EQ(seen[k].done, (k + 1) * chartconverter::kProgressLines * 20);
  // The last report was the total already: finish() does not repeat it.
  ASSERT_TRUE(run.finish().ok());
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen.back().done, text.size());
  EXPECT_EQ(seen.back().total, text.size());
}

TEST(GridSharing, AColumnChangesHandsWithoutACopyAndTheGridStillShowsIt) {
  // Column B is one row short: its last cell is empty.
  const ConversionOutcome out =
      ConvertToChart(textlines::fromText("1 2 0.5\n3 4 0.25\n5 6 0.125\n7 8\n"), "/data/g.txt");
  ASSERT_TRUE(out.ok());
  numericgrid g = std::move(out.result->grid);
  ASSERT_EQ(g.rowcount(), 5);
  const double *before = g.column(0).data();
  const rowref a = g.sharecolumn(0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->data.data(), before); // the very storage, moved
  EXPECT_EQ(a->n, 4);
  EXPECT_EQ(a->data, (std::vector<double>{1, 3, 5, 7}));
  EXPECT_EQ(g.sharecolumn(0), a); // asked again: the same row
  EXPECT_TRUE(g.column(0).empty());

  const rowref c = g.sharecolumn(2);
  ASSERT_EQ(c->n, 4);
  EXPECT_EQ(c->data[2], 0.125);
  EXPECT_TRUE(std::isnan(c->data[3])); // the missing cell is empty

  // The grid reads the cells from the shared rows.
  EXPECT_FALSE(g.has(0, 0));
  EXPECT_EQ(g.value(0, 1), 1);
  EXPECT_EQ(g.value(0, 4), 7);
  EXPECT_EQ(g.text(2, 3), "0.125");
  EXPECT_FALSE(g.has(2, 4));
  EXPECT_EQ(g.text(2, 4), "");
  EXPECT_FALSE(g.has(0, 5));
  EXPECT_EQ(g.value(1, 2), 4); // a column not handed over

  // Writing a cell gives the grid its own copy; the row is left alone.
  g.set(0, 2, 30);
  EXPECT_EQ(g.value(0, 2), 30);
  EXPECT_EQ(g.value(0, 4), 7);
  EXPECT_EQ(a->data[1], 3);
  ASSERT_EQ(g.column(0).size(), 5u);
  EXPECT_EQ(g.sharecolumn(7), nullptr); // no such column
}

TEST(GridRoom, TheGridBeingFilledShowsWhereItsNumbersGo) {
  const std::size_t n = 3 * chartconverter::kProgressLines + 5;
  const std::string text = columns(n);
  const textlines lines = textlines::fromText(text);
  chartconverter run("/data/p.txt", text.size());
  EXPECT_EQ(run.filling(), nullptr); // no layout yet

  // At each report the grid's room holds the rows read so far, with room to
  // spare, where the column's numbers are.
  std::vector<const void *> starts;
  std::size_t reports = 0;
  std::size_t linesread = 0; // a report comes as a line is fed, before it is read
  run.observe([&](std::size_t, std::size_t) {
    const numericgrid *grid = run.filling();
    if (!grid)
      return; // the report finish() gives after taking the grid
    ++reports;
    ASSERT_EQ(grid->colcount(), 3);
    starts.resize(3);
    for (int c = 0; c < 3; ++c) {
      const numericgrid::storage room = grid->room(c);
      const std::vector<double> &column = grid->column(c);
      EXPECT_EQ(room.start, static_cast<const void *>(column.data()));
      EXPECT_EQ(room.used, column.size() * sizeof(double));
      // Row 0 (the grid's first, empty row) and one row per line read.
      EXPECT_EQ(room.used, (1 + linesread) * sizeof(double));
      EXPECT_GE(room.bytes, room.used);
      // The room was made once, from the text's size: the numbers never move.
      EXPECT_GE(room.bytes, (n + 1) * sizeof(double));
      if (starts[c]) {
        EXPECT_EQ(starts[c], room.start) << "column " << c;
      }
      starts[c] = room.start;
    }
  });
  for (std::size_t j = 0; j < lines.size(); ++j, ++linesread)
    ASSERT_TRUE(run.feed(lines[j]));
  EXPECT_EQ(reports, 3u);
  ConversionOutcome out = run.finish();
  EXPECT_EQ(reports, 4u); // the last from finish(), with every line read
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(run.filling(), nullptr); // taken by finish()
  numericgrid &g = out.result->grid;
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(starts[c], static_cast<const void *>(g.column(c).data())) << "column " << c;

  // A column handed over, or one that does not exist, has no room.
  EXPECT_NE(g.room(1).start, nullptr);
  g.sharecolumn(1);
  EXPECT_EQ(g.room(1).start, nullptr);
  EXPECT_EQ(g.room(1).bytes, 0u);
  EXPECT_EQ(g.room(7).start, nullptr);
  EXPECT_EQ(g.room(-1).start, nullptr);
}

TEST(GridRoom, ATaggedTextFillsNoGrid) {
  const std::string text = tagged(chartconverter::kProgressLines + 3);
  const textlines lines = textlines::fromText(text);
  chartconverter run("/data/t.txt", text.size());
  std::size_t reports = 0;
  run.observe([&](std::size_t, std::size_t) {
    ++reports;
    EXPECT_EQ(run.filling(), nullptr);
  });
  for (std::size_t j = 0; j < lines.size(); ++j)
    ASSERT_TRUE(run.feed(lines[j]));
  EXPECT_GE(reports, 1u);
  EXPECT_TRUE(run.finish().ok());
}
