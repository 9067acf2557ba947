// Fit speed: straight line and cubic on 10^6 points, the damped cosine on
// 10^5 points from near estimates, and a 12-dataset multi fit under both
// linear solvers.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/fits.h"
#include "engine/multfit.h"

using namespace orvalle;

namespace {

class nullseries : public chartseries {
public:
  void clear() override {}
  int count() const override { return 0; }
  void addpoint(double, double) override {}
  int adderrorpoint(double, double, double, colour) override { return 0; }
  void setseriescolour(colour) override {}
  void setvisible(bool) override {}
};

class nullcanvas : public chartcanvas {
public:
  std::unique_ptr<chartseries> makeline(colour) override { return std::make_unique<nullseries>(); }
  std::unique_ptr<chartseries> makeerrorpoints(colour, const std::string &) override {
    return std::make_unique<nullseries>();
  }
};

// n points of f on [x0, x0 + span) with a small deterministic scatter.
std::unique_ptr<dataset> points(int n, double x0, double span, double (*f)(double), double err) {
  auto d = std::make_unique<dataset>(true);
  d->x = std::make_shared<drow>(n);
  d->y = std::make_shared<drow>(n);
  d->yerr = std::make_shared<drow>(n);
  for (int i = 0; i < n; ++i) {
    const double x = x0 + span * i / n;
    (*d->x)[i] = x;
    (*d->y)[i] = f(x) + err * 0.5 * std::sin(12.9898 * i);
    (*d->yerr)[i] = err;
  }
  d->makeweights();
  return d;
}

double line(double x) { return 2.0 * x + 1.0; }
double cubic(double x) { return 0.5 * x * x * x - x * x + 3.0 * x - 2.0; }
double damped(double x) { return 1.5 * std::exp(-0.3 * x) * std::cos(2.0 * x + 0.4); }

void BM_LineFit_1e6(benchmark::State &state) {
  auto d = points(1'000'000, 0.0, 100.0, line, 0.1);
  const bool gauss = state.range(0) != 0;
  for (auto _ : state) {
    polynom f(1);
    f.data = d.get();
    f.fit(gauss);
    benchmark::DoNotOptimize(f.par[0]);
  }
}
BENCHMARK(BM_LineFit_1e6)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// What "Fit && Plot" costs the engine: weights, fit, series, chi-square.
void BM_LineFitplot_1e6(benchmark::State &state) {
  auto d = points(1'000'000, 0.0, 100.0, line, 0.1);
  nullcanvas mainchart, devchart;
  for (auto _ : state) {
    polynom f(1);
    f.data = d.get();
    f.fitplot(mainchart, devchart, 1000, true);
    benchmark::DoNotOptimize(f.chisq());
  }
}
BENCHMARK(BM_LineFitplot_1e6)->Unit(benchmark::kMillisecond);

void BM_CubicFit_1e6(benchmark::State &state) {
  auto d = points(1'000'000, -5.0, 10.0, cubic, 0.1);
  const bool gauss = state.range(0) != 0;
  for (auto _ : state) {
    polynom f(3);
    f.data = d.get();
    f.fit(gauss);
    benchmark::DoNotOptimize(f.par[0]);
  }
}
BENCHMARK(BM_CubicFit_1e6)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_DampedCosine_1e5(benchmark::State &state) {
  auto d = points(100'000, 0.0, 10.0, damped, 0.01);
  int iterations = 0;
  for (auto _ : state) {
    periodicdecay f;
    // Within a few per cent of the solution.
    f.par[0] = 1.47;
    f.par[1] = -0.295;
    f.par[2] = 2.01;
    f.par[3] = 0.39;
    f.data = d.get();
    f.fit(true);
    iterations = f.iterations;
    benchmark::DoNotOptimize(f.par[0]);
  }
  state.counters["iterations"] = iterations;
}
BENCHMARK(BM_DampedCosine_1e5)->Unit(benchmark::kMillisecond);

void BM_MultiFit_12(benchmark::State &state) {
  std::vector<std::unique_ptr<dataset>> sets;
  for (int j = 0; j < 12; ++j)
    sets.push_back(points(50, 0.0, 10.0, line, 0.1 + 0.01 * j));
  const bool gauss = state.range(0) != 0;
  nullcanvas mainchart, devchart;
  for (auto _ : state) {
    Mlinearsamem m;
    m.makelines(12);
    for (int j = 0; j < 12; ++j) {
      m.datasets.add(sets[static_cast<std::size_t>(j)].get());
      m.line(j)->data = sets[static_cast<std::size_t>(j)].get();
    }
    m.fit(mainchart, devchart, gauss);
    benchmark::DoNotOptimize(m.line(0)->par[0]);
  }
}
BENCHMARK(BM_MultiFit_12)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// A tagged file of many two-point datasets: K datasets, a (K+1)-order joint
// system. Arguments: K, and 1 for Gaussian elimination, 0 for Cramer's rule.
void BM_MultiFit_TwoPointSets(benchmark::State &state) {
  const int K = static_cast<int>(state.range(0));
  const bool gauss = state.range(1) != 0;
  std::vector<std::unique_ptr<dataset>> sets;
  for (int j = 0; j < K; ++j)
    sets.push_back(points(2, 0.5 * j, 1.0, line, 0.1));
  nullcanvas mainchart, devchart;
  for (auto _ : state) {
    Mlinearsamem m;
    m.makelines(K);
    std::vector<std::unique_ptr<bfit>> lines = m.takelines();
    for (int j = 0; j < K; ++j) {
      m.datasets.add(sets[static_cast<std::size_t>(j)].get());
      m.line(j)->data = sets[static_cast<std::size_t>(j)].get();
    }
    m.fit(mainchart, devchart, gauss);
    benchmark::DoNotOptimize(m.line(0)->par[0]);
  }
}
BENCHMARK(BM_MultiFit_TwoPointSets)
    ->Args({50, 1})
    ->Args({50, 0})
    ->Args({400, 1})
    ->Args({400, 0})
    ->Unit(benchmark::kMillisecond);

// A straight line far from x = 0 (x near 1e9): the fit that refines its
// solution on the data.
void BM_FarLineFit_1e6(benchmark::State &state) {
  auto d = points(1'000'000, 1e9, 100.0, line, 0.1);
  for (auto _ : state) {
    polynom f(1);
    f.data = d.get();
    f.fit(true);
    benchmark::DoNotOptimize(f.par[0]);
  }
}
BENCHMARK(BM_FarLineFit_1e6)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
