// Speed of grey scale, fade, lighten, colourise, noise, black and white, palette mapping and
// resampling on a big picture (4096 x 4096) and a thumbnail (200 x 160), in megapixels per second
// ("MP/s"), to be read beside BM_Yardstick_ReadWrite3 of the same run.
//
// Operations that change their input run on a fresh copy each time, restored outside the timing:
// a picture already mapped onto a palette, say, would map far faster the second time.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_pictures.h"
#include "imaging/cDIBSection.h"
#include "imaging/cImageProcessDIB.h"
#include "imaging/cPalette.h"

namespace torvo {
namespace {

using bench::Photo;

int32_t Width(const benchmark::State& state) { return static_cast<int32_t>(state.range(0)); }
int32_t Height(const benchmark::State& state) { return static_cast<int32_t>(state.range(1)); }

void CountMegapixels(benchmark::State& state, int64_t pixelsPerIteration) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixelsPerIteration) * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
}

// operation(processor, work) on a copy of the picture made anew before every run.
template <typename Operation>
void OnFreshCopy(benchmark::State& state, Operation operation) {
  auto original = Photo(Width(state), Height(state));
  cDIBSection work;
  work.Create(Width(state), Height(state));
  work.LoadPictureBlt(original->hdc());  // every page touched before the clock runs
  cImageProcessDIB processor;
  for (auto _ : state) {
    state.PauseTiming();
    work.LoadPictureBlt(original->hdc());
    state.ResumeTiming();
    operation(processor, work);
    benchmark::ClobberMemory();
  }
  CountMegapixels(state, int64_t{Width(state)} * Height(state));
}

// The same work whatever the pixels hold: run again and again in place.
template <typename Operation>
void InPlace(benchmark::State& state, Operation operation) {
  auto work = Photo(Width(state), Height(state));
  cImageProcessDIB processor;
  for (auto _ : state) {
    operation(processor, *work);
    benchmark::ClobberMemory();
  }
  CountMegapixels(state, int64_t{Width(state)} * Height(state));
}

void BM_GrayScale(benchmark::State& state) {
  InPlace(state, [](cImageProcessDIB& p, cDIBSection& s) { p.GrayScale(s); });
}
void BM_Fade(benchmark::State& state) {
  InPlace(state, [](cImageProcessDIB& p, cDIBSection& s) { p.Fade(s, 180); });
}
void BM_Lighten(benchmark::State& state) {
  OnFreshCopy(state, [](cImageProcessDIB& p, cDIBSection& s) { p.Lighten(s, 30); });
}
void BM_Colourise(benchmark::State& state) {
  OnFreshCopy(state, [](cImageProcessDIB& p, cDIBSection& s) { p.Colourise(s, 2.5f, 0); });
}
void BM_AddNoise(benchmark::State& state) {
  OnFreshCopy(state, [](cImageProcessDIB& p, cDIBSection& s) { p.AddNoise(s, 40); });
}

void BM_BlackAndWhite(benchmark::State& state) {
  auto result = Photo(Width(state), Height(state), 3);
  OnFreshCopy(state, [&](cImageProcessDIB& p, cDIBSection& s) { p.BlackAndWhite(s, *result); });
}

// 256 colours spread over the colour cube (8 x 8 x 4 levels), read from a palette file.
cPalette Palette256() {
  const auto path = std::filesystem::temp_directory_path() / ("torvo-bench-" + std::to_string(getpid()) + ".pal");
  {
    std::ofstream file(path, std::ios::binary);
    file << "JASC-PAL\r\n0100\r\n256\r\n";
    for (int i = 0; i < 256; ++i) file << (i & 7) * 36 << ' ' << ((i >> 3) & 7) * 36 << ' ' << (i >> 6) * 85 << "\r\n";
  }
  cPalette palette;
  palette.LoadFromFile(path);
  std::filesystem::remove(path);
  return palette;
}

void BM_ApplyPalette256(benchmark::State& state) {
  auto result = Photo(Width(state), Height(state), 3);
  cPalette palette = Palette256();
  OnFreshCopy(state, [&](cImageProcessDIB& p, cDIBSection& s) { p.ApplyPalette(s, *result, palette); });
}

// Counted in pixels of the result, which has half the width and half the height.
void BM_ResampleToHalf(benchmark::State& state) {
  auto original = Photo(Width(state), Height(state));
  for (auto _ : state) {
    auto result = original->Resample(Height(state) / 2, Width(state) / 2);
    benchmark::DoNotOptimize(result.get());
  }
  CountMegapixels(state, int64_t{Width(state) / 2} * (Height(state) / 2));
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({4096, 4096})->Args({200, 160})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_GrayScale)->Apply(Sizes);
BENCHMARK(BM_Fade)->Apply(Sizes);
BENCHMARK(BM_Lighten)->Apply(Sizes);
BENCHMARK(BM_Colourise)->Apply(Sizes);
BENCHMARK(BM_AddNoise)->Apply(Sizes);
BENCHMARK(BM_BlackAndWhite)->Apply(Sizes);
BENCHMARK(BM_ApplyPalette256)->Apply(Sizes);
BENCHMARK(BM_ResampleToHalf)->Apply(Sizes);

}  // namespace
}  // namespace torvo
