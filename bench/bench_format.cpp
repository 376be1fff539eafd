// Number formatting: the file formatter against snprintf and std::to_chars.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <vector>

#include "common/number_format.h"

namespace {

std::vector<double> scaled_values() {
  std::vector<double> v(1 << 16);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>(i * 7919 % 100003) / 100003.0;
  return v;
}

void BM_fmt_g(benchmark::State& state) {
  const auto values = scaled_values();
  char buf[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fmt_g(buf, values[i++ & 0xFFFF]));
  }
}
BENCHMARK(BM_fmt_g);

void BM_to_chars(benchmark::State& state) {
  const auto values = scaled_values();
  char buf[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        std::to_chars(buf, buf + sizeof buf, values[i++ & 0xFFFF], std::chars_format::general, 6));
  }
}
BENCHMARK(BM_to_chars);

void BM_snprintf(benchmark::State& state) {
  const auto values = scaled_values();
  char buf[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%g", values[i++ & 0xFFFF]));
  }
}
BENCHMARK(BM_snprintf);

}  // namespace
