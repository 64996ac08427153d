// The matrix library's basic costs: products, inversion, sharing copies, detaches, and one pose.
#include <benchmark/benchmark.h>

#include "matrix/matrix.h"
#include "robot/transforms.h"

namespace {

matrix<double> Filled(uint32_t rows, uint32_t cols) {
  matrix<double> m(rows, cols);
  for (uint32_t i = 0; i < rows; ++i) {
    for (uint32_t j = 0; j < cols; ++j) {
      m(i, j) = 1.0 / (1.0 + i + 2.0 * j) + (i == j ? 2.0 : 0.0);
    }
  }
  return m;
}

void BM_Product4x4(benchmark::State& state) {
  const matrix<double> a = Filled(4, 4);
  const matrix<double> b = Filled(4, 4);
  for (auto _ : state) {
    matrix<double> p = a * b;
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_Product4x4);

void BM_Product6x6(benchmark::State& state) {
  const matrix<double> a = Filled(6, 6);
  const matrix<double> b = Filled(6, 6);
  for (auto _ : state) {
    matrix<double> p = a * b;
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_Product6x6);

void BM_Inverse6x6(benchmark::State& state) {
  const matrix<double> a = Filled(6, 6);
  for (auto _ : state) {
    matrix<double> inv = !a;
    benchmark::DoNotOptimize(inv);
  }
}
BENCHMARK(BM_Inverse6x6);

void BM_SharingCopy(benchmark::State& state) {
  const matrix<double> a = Filled(6, 6);
  for (auto _ : state) {
    matrix<double> b = a;
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_SharingCopy);

void BM_Detach6x6(benchmark::State& state) {
  const matrix<double> a = Filled(6, 6);
  for (auto _ : state) {
    matrix<double> b = a;
    b(0, 0) = 1.0;  // the write gives b a private copy
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_Detach6x6);

void BM_PoseTransform(benchmark::State& state) {
  double angle = 0.1;
  for (auto _ : state) {
    matrix<double> t = PoseTransform(0.1, 0.2, 0.3, angle, 0.5, 0.7);
    benchmark::DoNotOptimize(t);
    angle += 1e-9;
  }
}
BENCHMARK(BM_PoseTransform);

}  // namespace

BENCHMARK_MAIN();
