// The trend types: list, item texts, fewest points, estimate boxes, names
// and the fit objects they make.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "engine/fits.h"
#include "engine/formulafit.h"
#include "engine/trendtypes.h"

using namespace orvalle;

namespace {

PluginLibrary loadsample(const std::string &file) {
  std::string why;
  auto lib = loadpluginfile(std::string(ORVALLE_PLUGIN_DIR) + "/" + file, &why);
  if (!lib)
    throw std::runtime_error(why);
  return *lib;
}

struct typecase {
  trendtype type;
  const char *text;
  int fewest;
  int estimates;
  int order;
  bool (*isclass)(const bfit &);
};

template <class T> bool is(const bfit &f) { return dynamic_cast<const T *>(&f) != nullptr; }

const typecase kTypes[] = {
    {trendtype::linearorigin, "Linear (y=mx)", 2, 0, 0, is<lineronlym>},
    {trendtype::linear, "Linear (y=ax+b)", 3, 0, 1, is<polynom>},
    {trendtype::quadratic, "Quadratic (y=ax^2+bx+c)", 4, 0, 2, is<polynom>},
    {trendtype::cubic, "Cubic (y=ax^3+bx^2+cx+d)", 5, 0, 3, is<polynom>},
    {trendtype::power, "Power y=A*(x^2)^(B/2)", 3, 0, 1, is<powersq>},
    {trendtype::resonance, "Resonance y=A/((B-x)^2+C)", 4, 0, 2, is<resonance>},
    {trendtype::periodic, "Periodic y=A*cos(B*x)", 3, 2, 1, is<periodic>},
    {trendtype::periodicdecay, "Periodic y=A*exp(B*x)*cos(Cx+D)", 5, 4, 3, is<periodicdecay>},
};

} // namespace

TEST(TrendTypes, BuiltInTable) {
  for (const auto &c : kTypes) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(trendtext(c.type), c.text);
    EXPECT_EQ(fewestpoints(c.type), c.fewest);
    EXPECT_EQ(estimatecount(c.type), c.estimates);
    auto fit = makefit(c.type, nullptr, {1.5, 2.5, 3.5, 4.5, 5.5});
    ASSERT_TRUE(fit);
    EXPECT_TRUE(c.isclass(*fit));
    EXPECT_EQ(fit->order, c.order);
    // Every estimate reaches the fit, shown or not.
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(fit->par[i], 1.5 + i);
  }
}

TEST(TrendTypes, ListFollowsSamplesAndPlugin) {
  using T = trendtype;
  // The typed formula is always offered, after every other item.
  EXPECT_EQ(trendtypelist(false, nullptr),
            (std::vector<T>{T::linearorigin, T::linear, T::quadratic, T::cubic, T::formula}));
  const std::vector<T> withsamples = trendtypelist(true, nullptr);
  ASSERT_EQ(withsamples.size(), 9u);
  EXPECT_EQ(withsamples[4], T::power);
  EXPECT_EQ(withsamples[7], T::periodicdecay);
  EXPECT_EQ(withsamples[8], T::formula);

  const PluginLibrary lib = loadsample("libcustomfit.so");
  const auto plain = trendtypelist(false, &lib);
  ASSERT_EQ(plain.size(), 6u);
  EXPECT_EQ(plain[4], T::custom);
  EXPECT_EQ(plain[5], T::formula);
  const auto full = trendtypelist(true, &lib);
  ASSERT_EQ(full.size(), 10u);
  EXPECT_EQ(full[8], T::custom);
  EXPECT_EQ(full[9], T::formula);
  // A library without a model name adds nothing.
  PluginLibrary unnamed = lib;
  unnamed.customfitname = [] { return ""; };
  EXPECT_EQ(trendtypelist(true, &unnamed).size(), 9u);
}

TEST(TrendTypes, PluginEntry) {
  const PluginLibrary own = loadsample("libcustomfit.so");
  EXPECT_EQ(trendtext(trendtype::custom, &own), own.name());
  EXPECT_EQ(fewestpoints(trendtype::custom), 3);
  EXPECT_EQ(estimatecount(trendtype::custom, &own), own.estimates());
  auto f = makefit(trendtype::custom, &own, {7, 8, 1, 1, 1});
  EXPECT_TRUE(is<customfit>(*f));
  EXPECT_EQ(f->par[0], 7);

  // A plug-in that asks for a polynomial gets one of its degree.
  const PluginLibrary poly = loadsample("libcustomfit_poly4.so");
  auto p = makefit(trendtype::custom, &poly);
  ASSERT_TRUE(is<polynom>(*p));
  EXPECT_EQ(p->order, 4);

  EXPECT_THROW(makefit(trendtype::custom, nullptr), engine_error);
  PluginLibrary bad = poly;
  bad.customispoly = [] { return 12; };
  EXPECT_THROW(makefit(trendtype::custom, &bad), engine_error);
}

TEST(TrendTypes, FormulaEntry) {
  EXPECT_EQ(trendtext(trendtype::formula), "Formula");
  EXPECT_EQ(estimatecount(trendtype::formula), 0);
  EXPECT_THROW(makefit(trendtype::formula, nullptr), engine_error);
  auto f = makeformulafit("A*exp(-x/tau) + C", {7, 8});
  ASSERT_TRUE(is<formulafit>(*f));
  EXPECT_EQ(f->order, 2);
  // The estimates in the formula's order; one not given starts at 1.
  EXPECT_EQ(f->par[0], 7);
  EXPECT_EQ(f->par[1], 8);
  EXPECT_EQ(f->par[2], 1);
  EXPECT_THROW(makeformulafit("A*expp(x)", {}), formula_error);
  EXPECT_EQ(formulaitemtext("  A*(1-exp(-x/B)) "), "y=A*(1-exp(-x/B))");
  EXPECT_EQ(autofitname("Dataset a", formulaitemtext("A*x")), "Dataset a -- y=A*x");
}

TEST(TrendTypes, MessagesAndNames) {
  EXPECT_EQ(fewestpointsmessage(trendtype::quadratic),
            "You need at least 4 points in the dataset to fit Quadratic (y=ax^2+bx+c)");
  EXPECT_EQ(autofitname("Dataset a", "Linear (y=mx)"), "Dataset a -- Linear (y=mx)");
  EXPECT_EQ(autofitname("", "Linear (y=mx)"), "Linear (y=mx)");
  EXPECT_EQ(multilinename("N", "Dataset a"), "N-Dataset a");
}

TEST(TrendTypes, MultiFits) {
  EXPECT_EQ(multikindtext(multikind::sameintercept), "Intercept (b)");
  EXPECT_EQ(multikindtext(multikind::samegradient), "Gradient (a)");
  auto c = makemultifit(multikind::sameintercept);
  auto m = makemultifit(multikind::samegradient);
  EXPECT_NE(dynamic_cast<Mlinearsamec *>(c.get()), nullptr);
  EXPECT_NE(dynamic_cast<Mlinearsamem *>(m.get()), nullptr);
  const std::string line = multifitlogline(multikind::samegradient, "Chart Compiled From - x.txt");
  EXPECT_EQ(line, "Multiple linear fits that share the same Gradient (a) for data displayed in the "
                  "Chart Compiled From - x.txt have been calculated");
}

// The rows hold together: each type once, names and captions unique, the
// fewest points one more than the parameters of the fit the row makes,
// and a help anchor that the help book has.
TEST(TrendTypes, RowsAgreeWithTheirFits) {
  std::set<std::string> names, captions, keys;
  std::set<trendtype> types;
  for (const trendrow &r : trendrows()) {
    SCOPED_TRACE(r.batchname);
    EXPECT_TRUE(types.insert(r.type).second);
    EXPECT_EQ(&trendrowof(r.type), &r);
    EXPECT_TRUE(names.insert(r.batchname).second);
    EXPECT_TRUE(keys.insert(r.projectkey).second);
    EXPECT_TRUE(r.caption[0] == '\0' || captions.insert(r.caption).second);
    EXPECT_GE(r.estimates, 0);
    EXPECT_LE(r.estimates, 5);
    EXPECT_NE(std::string(r.batchhelp), "");
    // Only the plug-in's and the formula's rows make their fits otherwise.
    EXPECT_EQ(r.make == nullptr, r.group == trendgroup::plugin || r.group == trendgroup::formula);
    if (r.make) {
      const auto fit = r.make();
      // order is the highest parameter's index: fewest = parameters + 1.
      EXPECT_EQ(r.fewest, fit->order + 2);
      EXPECT_EQ(r.degree > 0, dynamic_cast<const polynom *>(fit.get()) != nullptr);
      if (r.degree > 0) {
        EXPECT_EQ(fit->order, r.degree);
      }
    }
    // The help book has the anchor the row names.
    const std::string anchor = r.helpanchor;
    const auto hash = anchor.find('#');
    ASSERT_NE(hash, std::string::npos);
    std::ifstream page(std::string(ORVALLE_TEST_DATA) + "/../../docs/help/" +
                       anchor.substr(0, hash));
    ASSERT_TRUE(page) << anchor;
    const std::string text((std::istreambuf_iterator<char>(page)), {});
    EXPECT_NE(text.find("name=\"" + anchor.substr(hash + 1) + "\""), std::string::npos) << anchor;
  }
  EXPECT_EQ(types.size(), trendrows().size());
  // The list offers every row once the samples and a plug-in are on.
  const PluginLibrary lib = loadsample("libcustomfit.so");
  EXPECT_EQ(trendtypelist(true, &lib).size(), trendrows().size());
  // Multi fits go with the straight line alone.
  int multi = 0;
  for (const trendrow &r : trendrows())
    multi += r.multi ? 1 : 0;
  EXPECT_EQ(multi, 1);
  EXPECT_TRUE(trendrowof(trendtype::linear).multi);
}
