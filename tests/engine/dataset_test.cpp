#include <gtest/gtest.h>

#include <vector>

#include "engine/dataset.h"

using namespace orvalle;

namespace {

rowref makerow(std::initializer_list<double> v) {
  auto r = std::make_shared<drow>(static_cast<int>(v.size()));
  int i = 0;
  for (double x : v)
    (*r)[i++] = x;
  return r;
}

// A dataset of the given points, weights made.
std::unique_ptr<dataset> points(std::initializer_list<double> x, std::initializer_list<double> y,
                                std::initializer_list<double> e) {
  auto d = std::make_unique<dataset>(true);
  d->x = makerow(x);
  d->y = makerow(y);
  d->yerr = makerow(e);
  d->makeweights();
  return d;
}

int codeof(const std::function<void()> &f) {
  try {
    f();
  } catch (const engine_error &e) {
    return e.code();
  }
  return -1;
}

} // namespace

TEST(Dataset, NewDatasetHasNoFitAndColourOnlyWhenAsked) {
  dataset with(true), without(false);
  EXPECT_TRUE(with.dcolour.has_value());
  EXPECT_FALSE(without.dcolour.has_value());
  EXPECT_TRUE(with.name.empty());
  EXPECT_EQ(with.pointcount, 0);
  EXPECT_EQ(with.currentfit(), nullptr);
  EXPECT_EQ(with.fits.count, 1u);
  EXPECT_EQ(with.npoints(), 0);
}

TEST(Dataset, CurrentFitIsTheNewestAttached) {
  dataset d(true);
  auto *f = reinterpret_cast<bfit *>(&d); // any address: the list never dereferences it
  d.attach(f);
  EXPECT_EQ(d.currentfit(), f);
  d.attach(nullptr);
  EXPECT_EQ(d.currentfit(), nullptr);
  EXPECT_EQ(d.fits.count, 3u);
  EXPECT_EQ(d.fits.at(1)->obj, f);
}

TEST(Dataset, ExtremesAndMeans) {
  auto d = points({1, 3}, {2, 1}, {0.5, 0.5});
  EXPECT_DOUBLE_EQ(d->maxtop(), 2.5);
  EXPECT_DOUBLE_EQ(d->minbottom(), 0.5);
  EXPECT_DOUBLE_EQ(d->meanx(), 2.0);
  EXPECT_DOUBLE_EQ(d->meany(), 1.5);

  auto e = points({4, -1, 7, -1}, {0, 9, -3, 2}, {1, 2, 0.5, 6});
  EXPECT_EQ(e->minx(), -1);
  EXPECT_EQ(e->maxx(), 7);
  EXPECT_EQ(e->miny(), -3);
  EXPECT_EQ(e->maxy(), 9);
  EXPECT_EQ(e->maxtop(), 11); // 9 + 2 beats 2 + 6
  EXPECT_EQ(e->minbottom(), -4);
}

TEST(Dataset, WeightsAndSums) {
  auto d = points({0, 1, 2}, {1, 3, 5}, {1, 0.5, 2});
  ASSERT_EQ(d->npoints(), 3);
  EXPECT_EQ((*d->w)[0], 1.0);
  EXPECT_EQ((*d->w)[1], 4.0);
  EXPECT_EQ((*d->w)[2], 0.25);
  EXPECT_DOUBLE_EQ(d->sumw(), 5.25);
  // sumwx(0) is the sum of the weights although x[0] is 0 (0^0 = 1).
  EXPECT_DOUBLE_EQ(d->sumwx(0), 5.25);
  EXPECT_DOUBLE_EQ(d->sumwx(1), 4 + 0.5);
  EXPECT_DOUBLE_EQ(d->sumwx(2), 4 + 1);
  EXPECT_DOUBLE_EQ(d->sumwy(), 1 + 12 + 1.25);
  EXPECT_DOUBLE_EQ(d->sumwyx(1), 12 + 2.5);
  EXPECT_DOUBLE_EQ(d->sumwyx(2), 12 + 5);
  EXPECT_DOUBLE_EQ(d->termwx(1, 2), 4.0 / 3);
  EXPECT_DOUBLE_EQ(d->termwx(0, 0), 1.0 / 3);
}

TEST(Dataset, ZeroErrorGivesZeroWeight) {
  // The middle point (far off the line y = 2x) has error 0: it must not
  // pull the weighted line, and its residual must not count.
  auto d = points({0, 1, 2, 3}, {0, 100, 4, 6}, {1, 0, 1, 1});
  EXPECT_EQ((*d->w)[1], 0.0);
  const double sw = d->sumw(), swx = d->sumwx(1), swxx = d->sumwx(2);
  const double swy = d->sumwy(), swxy = d->sumwyx(1);
  const double det = sw * swxx - swx * swx;
  const double slope = (sw * swxy - swx * swy) / det;
  const double intercept = (swxx * swy - swx * swxy) / det;
  EXPECT_NEAR(slope, 2.0, 1e-12);
  EXPECT_NEAR(intercept, 0.0, 1e-12);
}

TEST(Dataset, NewWeightsReplaceTheOld) {
  auto d = points({1, 2}, {1, 2}, {1, 1});
  d->yerr = makerow({2, 4, 8});
  d->makeweights();
  ASSERT_EQ(d->npoints(), 3);
  EXPECT_EQ((*d->w)[2], 1.0 / 64);
}

TEST(Dataset, FailureCodes) {
  dataset noerrors(true);
  noerrors.x = makerow({1, 2});
  noerrors.y = makerow({1, 2});
  EXPECT_EQ(codeof([&] { noerrors.makeweights(); }), kNoErrors);
  EXPECT_EQ(kNoErrors, 63035);
  // No weights yet: the rows differ in length.
  EXPECT_EQ(codeof([&] { noerrors.sumw(); }), kRowLengths);
  EXPECT_EQ(kRowLengths, 63044);

  auto d = points({1, 2, 3}, {1, 2, 3}, {1, 1, 1});
  d->x = makerow({1, 2});
  EXPECT_EQ(codeof([&] { d->sumw(); }), kRowLengths);
  EXPECT_EQ(codeof([&] { d->sumwy(); }), kRowLengths);
  EXPECT_EQ(codeof([&] { d->sumwx(1); }), kRowLengths);
  EXPECT_EQ(codeof([&] { d->sumwyx(1); }), kRowLengths);
  EXPECT_EQ(codeof([&] { d->termwx(0, 1); }), kRowLengths);

  // Statistics of a dataset without points fail instead of reading nothing.
  dataset empty(true);
  EXPECT_THROW(empty.minx(), engine_error);
  EXPECT_THROW(empty.meany(), engine_error);
  EXPECT_THROW(empty.maxtop(), engine_error);
}

TEST(Dataset, RangesWithoutErrorsUseTheValues) {
  dataset d(true);
  d.x = makerow({1, 2});
  d.y = makerow({5, -1});
  EXPECT_EQ(d.maxtop(), 5);
  EXPECT_EQ(d.minbottom(), -1);
}

TEST(Dataset, ErrorsIntoWeightsMakesTheSameWeightsInPlace) {
  auto d = points({1, 2, 3, 4}, {1, 2, 3, 4}, {0.5, 0, 3, 1e-3});
  const std::vector<double> want = d->w->data; // as makeweights makes them
  const double *storage = d->yerr->data.data();
  d->w.reset();
  d->errorsintoweights();
  ASSERT_TRUE(d->weightsonly());
  EXPECT_FALSE(d->yerr);
  EXPECT_EQ(d->w->data.data(), storage); // no copy
  EXPECT_EQ(d->w->data, want);
  EXPECT_EQ((*d->w)[1], 0.0); // an error of 0 weighs nothing
  EXPECT_EQ(d->npoints(), 4);
  // makeweights keeps them; new errors make new weights again.
  d->makeweights();
  EXPECT_EQ(d->w->data.data(), storage);
  d->yerr = makerow({2, 2, 2, 2});
  EXPECT_FALSE(d->weightsonly());
  d->makeweights();
  EXPECT_EQ((*d->w)[0], 0.25);

  // Errors another row shares stay as they are.
  auto s = points({1, 2}, {1, 2}, {1, 1});
  const rowref other = s->yerr;
  EXPECT_EQ(codeof([&] { s->errorsintoweights(); }), kFailedFit);
  EXPECT_EQ(s->yerr, other);
  EXPECT_EQ((*other)[0], 1.0);
  // Without errors there is nothing to turn into weights.
  dataset none(true);
  EXPECT_EQ(codeof([&] { none.errorsintoweights(); }), kNoErrors);
  EXPECT_FALSE(none.weightsonly());
}
