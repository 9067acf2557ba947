// Conversion of large data texts: a 1,000,000-line three-column text (about
// 24 MB) and a 1,000,000-line tagged text, from file bytes to the result.
// Peak memory is reported as the counter peak_rss_MB (getrusage).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <sys/resource.h>

#include "datatext/conversion.h"

namespace {

constexpr int kLines = 1'000'000;

std::string columntext() {
  std::mt19937 gen(1);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::string s;
  s.reserve(static_cast<std::size_t>(kLines) * 26);
  char buf[96];
  for (int i = 0; i < kLines; ++i) {
    const double x = i * 0.001;
    const double y = 3.2 * x + 1.5 + noise(gen);
    const double e = 0.05 + 0.01 * (i % 7);
    const int n = std::snprintf(buf, sizeof buf, "%.6f %.6f %.6f\n", x, y, e);
    s.append(buf, static_cast<std::size_t>(n));
  }
  return s;
}

std::string taggedtext() {
  std::mt19937 gen(2);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::string s;
  s.reserve(static_cast<std::size_t>(kLines) * 28);
  char buf[96];
  const char tags[] = "abcd";
  for (int i = 0; i < kLines; ++i) {
    const double x = i * 0.001;
    const double y = 3.2 * x + 1.5 + noise(gen);
    const int n = std::snprintf(buf, sizeof buf, "%.6f %.6f %.6f %c\n", x, y, 0.05, tags[i % 4]);
    s.append(buf, static_cast<std::size_t>(n));
  }
  return s;
}

double peakrssmb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void run(benchmark::State &state, const std::string &text) {
  for (auto _ : state) {
    const orvalle::textlines lines = orvalle::textlines::fromBytes(text);
    auto out = orvalle::ConvertToChart(lines, "/tmp/bench.txt");
    if (!out.ok())
      state.SkipWithError(out.error.c_str());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.counters["peak_rss_MB"] = peakrssmb();
  state.counters["text_MB"] = static_cast<double>(text.size()) / (1024.0 * 1024.0);
}

void BM_ColumnLayout(benchmark::State &state) {
  static const std::string text = columntext();
  run(state, text);
}

void BM_TaggedLayout(benchmark::State &state) {
  static const std::string text = taggedtext();
  run(state, text);
}

// The parts of the column conversion: splitting into lines, then numbers.
void BM_ColumnLinesOnly(benchmark::State &state) {
  static const std::string text = columntext();
  for (auto _ : state)
    benchmark::DoNotOptimize(orvalle::textlines::fromBytes(text));
}

void BM_ColumnConvertOnly(benchmark::State &state) {
  static const orvalle::textlines lines = orvalle::textlines::fromBytes(columntext());
  for (auto _ : state)
    benchmark::DoNotOptimize(orvalle::ConvertToChart(lines, "/tmp/bench.txt"));
}

} // namespace

BENCHMARK(BM_ColumnLayout)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TaggedLayout)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnLinesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnConvertOnly)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
