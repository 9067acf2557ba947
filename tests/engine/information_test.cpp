// The information text: one block per fit, in order, and nothing else.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/fits.h"
#include "engine/information.h"
#include "engine/nullcanvas.h"
#include "tests/engine/fit_helpers.h"

using namespace orvalle;
using namespace orvalle::testing;

namespace {

// A fit whose model is y = 0 and whose description is one fixed line, so
// the chi-square is the weighted sum of the squared y values.
class flatfit : public bfit {
public:
  explicit flatfit(int ord, std::string own = "own line") : own_(std::move(own)) {
    order = static_cast<std::uint16_t>(ord);
  }
  double value(double) const override { return 0.0; }
  void fit(bool) override {}
  void describe(stringlist &lines, bool clear) const override {
    if (clear)
      lines.clear();
    if (!own_.empty())
      lines.push_back(own_);
  }
  std::string formula(int index) const override { return formulahead(index) + "0"; }

private:
  std::string own_;
};

} // namespace

TEST(InformationText, BlockPerFitInOrder) {
  // y = 2.5 at two points, error 1: chi-square 12.5.
  auto d1 = makedata({0, 1, 2, 3, 4}, {2.5, 2.5, 0, 0, 0}, {1, 1, 1, 1, 1});
  auto d2 = makedata({0, 1}, {0.001, 0.001}, {1, 1});
  flatfit a(1, "first own");
  a.name = "first";
  a.data = d1.get();
  flatfit b(0, "");
  b.name = "second";
  b.data = d2.get();
  const stringlist expected = {"first",  "ChiSqu =12.5", "Degrees of Freedom =3", "first own", " ",
                               "second", "ChiSqu =2E-6", "Degrees of Freedom =1", " "};
  EXPECT_EQ(informationlines({&a, &b}), expected);
}

TEST(InformationText, SeparatorOnlyInChiSquare) {
  auto d = makedata({0, 1, 2}, {2.5, 2.5, 0}, {1, 1, 1});
  flatfit a(0, "own 1.5");
  a.name = "n.1";
  a.data = d.get();
  const stringlist lines = informationlines({&a}, ',');
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "n.1");
  EXPECT_EQ(lines[1], "ChiSqu =12,5");
  EXPECT_EQ(lines[3], "own 1.5");
}

TEST(InformationText, EmptyWithoutFitsAndWriteClearsTheList) {
  EXPECT_TRUE(informationlines({}).empty());
  stringlist lines = {"old"};
  writeinformation(lines, {nullptr}, '.');
  EXPECT_TRUE(lines.empty());
}

TEST(InformationText, RealFitCarriesItsOwnDescription) {
  auto d = makedata({0, 1, 2, 3}, {1, 3.1, 4.9, 7.2}, {0.1, 0.1, 0.1, 0.1});
  polynom p(1);
  p.name = "Linear (y=ax+b)";
  p.data = d.get();
  nullcanvas canvas;
  p.fitplot(canvas, canvas, 1000, true);
  stringlist own;
  p.describe(own, true);
  const stringlist lines = informationlines({&p});
  ASSERT_EQ(lines.size(), 3 + own.size() + 1);
  EXPECT_EQ(lines[1], "ChiSqu =" + generaltext(p.chisq(), 15));
  EXPECT_EQ(lines[2], "Degrees of Freedom =2");
  EXPECT_EQ(stringlist(lines.begin() + 3, lines.end() - 1), own);
  EXPECT_EQ(lines.back(), " ");
  // The fit's series were made on the null canvas and stay empty.
  ASSERT_TRUE(p.curve && p.devpoints);
  EXPECT_EQ(p.curve->count(), 0);
}

TEST(InformationText, VerdictForAChiSquareAlreadyMade) {
  // Three points and order 1: one degree of freedom, whose limits are
  // 0.004, 0.064, 1.642 and 3.841.
  auto d = makedata({0, 1, 2}, {0, 0, 0}, {1, 1, 1});
  flatfit f(1);
  f.data = d.get();
  ASSERT_EQ(f.dof(), 1);
  const struct {
    double c;
    int verdict;
  } cases[] = {{0.003, -2}, {0.05, -1}, {1.0, 0}, {2.0, 1}, {4.0, 2}, {std::nan(""), 2}};
  for (const auto &c : cases)
    EXPECT_EQ(f.verdictfor(c.c), c.verdict) << c.c;
  // verdict() is the same rule on the fit's own chi-square (0 here).
  EXPECT_EQ(f.verdict(), f.verdictfor(f.chisq()));
  EXPECT_EQ(f.verdict(), -2);
  // Without degrees of freedom there is no verdict.
  flatfit none(2);
  none.data = d.get();
  EXPECT_EQ(none.verdictfor(4.0), 0);
}
