// Speed of the filter engine, the combining operations and the block transfer on a big picture
// (4096 x 4096) and a thumbnail (200 x 160), in megapixels per second ("MP/s"), beside two
// yardsticks measured in the same run: a plain pass that reads and writes the three bytes of
// every pixel, and memcpy of the same scan lines that a block transfer copies.
//
// The kernel passes do the same work whatever the pixels hold, so a picture is filtered again
// and again without being restored.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>

#include "bench/bench_pictures.h"
#include "imaging/cDIBSection.h"
#include "imaging/cImageProcessDIB.h"
#include "imaging/tests/processor_test_access.h"
#include "imaging/vector_forms.h"

namespace torvo {
namespace {

using bench::Photo;

void CountPixels(benchmark::State& state, int64_t pixelsPerIteration) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixelsPerIteration) * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
}

int32_t Width(const benchmark::State& state) { return static_cast<int32_t>(state.range(0)); }
int32_t Height(const benchmark::State& state) { return static_cast<int32_t>(state.range(1)); }

// Yardstick: read the three bytes of each pixel and write three bytes back, scan line by line.
void ReadWrite3(cDIBSection& image) {
  const int32_t stride = image.BytesPerScanLine(), width = image.Width();
  for (int32_t y = 0; y < image.Height(); ++y) {
    uint8_t* p = image.DIBSectionBitsPtr() + static_cast<int64_t>(y) * stride;
    for (int32_t x = 0; x < 3 * width; x += 3) {
      const uint8_t b = p[x], g = p[x + 1], r = p[x + 2];
      p[x] = static_cast<uint8_t>(r ^ 1);
      p[x + 1] = g;
      p[x + 2] = b;
    }
  }
  benchmark::ClobberMemory();
}

void BM_Yardstick_ReadWrite3(benchmark::State& state) {
  auto image = Photo(Width(state), Height(state));
  for (auto _ : state) ReadWrite3(*image);
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

// Preset 5 (the sharpening) and the yardstick in turns within each iteration, on the same kind
// of picture, so a busy machine slows both alike: "ratio" is the filter's speed over the
// yardstick's. Times are the process's processor time where the system gives it, so time the
// machine spends on other work counts for neither. The third argument is the widest vectors
// allowed, in bits (256: the form for processors without 512-bit vectors).
void BM_Preset5AgainstReadWrite(benchmark::State& state) {
  vector_forms::AllowWidest(static_cast<int>(state.range(2)));
  auto image = Photo(Width(state), Height(state));
  auto plain = Photo(Width(state), Height(state));
  cDIBSection buffer;
  buffer.Create(Width(state), Height(state));
  cImageProcessDIB processor;
  processor.FilterType(5);
  processor.ProcessImage(*image, buffer);  // touch every page before timing
  ReadWrite3(*plain);
  double filterSeconds = 0, yardstickSeconds = 0;
  auto now = [] { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; };
  for (auto _ : state) {
    const double t0 = now();
    benchmark::DoNotOptimize(processor.ProcessImage(*image, buffer));
    benchmark::ClobberMemory();
    const double t1 = now();
    ReadWrite3(*plain);
    const double t2 = now();
    filterSeconds += t1 - t0;
    yardstickSeconds += t2 - t1;
  }
  const double megapixels = static_cast<double>(Width(state)) * Height(state) * state.iterations() / 1e6;
  state.counters["preset5_MP/s"] = megapixels / filterSeconds;
  state.counters["readwrite_MP/s"] = megapixels / yardstickSeconds;
  state.counters["ratio"] = yardstickSeconds / filterSeconds;
  vector_forms::AllowWidest(512);
}

void BM_ProcessImage(benchmark::State& state) {
  auto image = Photo(Width(state), Height(state));
  cDIBSection buffer;
  buffer.Create(Width(state), Height(state));
  cImageProcessDIB processor;
  processor.FilterType(static_cast<int32_t>(state.range(2)));
  const int32_t preset = static_cast<int32_t>(state.range(2));
  for (auto _ : state) {
    // Preset 7 leaves preset 1 behind it; choosing it again is part of each run.
    if (preset == 7) processor.FilterType(7);
    benchmark::DoNotOptimize(processor.ProcessImage(*image, buffer));
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

// Preset 5 as its callers run it: on a work surface made fresh for the call, whose memory the
// system first has to provide.
void BM_ProcessImageFreshBuffer(benchmark::State& state) {
  auto image = Photo(Width(state), Height(state));
  cImageProcessDIB processor;
  processor.FilterType(5);
  for (auto _ : state) {
    cDIBSection buffer;
    buffer.Create(Width(state), Height(state));
    benchmark::DoNotOptimize(processor.ProcessImage(*image, buffer));
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

// A custom 5 x 5 kernel with every coefficient different.
void BM_ProcessImageCustom5x5(benchmark::State& state) {
  auto image = Photo(Width(state), Height(state));
  cDIBSection buffer;
  buffer.Create(Width(state), Height(state));
  cImageProcessDIB processor;
  processor.FilterArraySize(5);
  for (int32_t j = -2; j <= 2; ++j)
    for (int32_t i = -2; i <= 2; ++i) processor.FilterValue(i, j, (i * 3 + j * 5) % 4);
  processor.FilterValue(0, 0, 20);
  processor.FilterWeight(17);
  processor.FilterType(13);
  for (auto _ : state) {
    benchmark::DoNotOptimize(processor.ProcessImage(*image, buffer));
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

// Preset 5's pass by the pixel-by-pixel traversal, the form that stops exactly where an error
// arises: what the scan-line form saves.
void BM_ConvolveKernelExactTraversal(benchmark::State& state) {
  auto image = Photo(Width(state), Height(state));
  cDIBSection buffer;
  buffer.Create(Width(state), Height(state));
  cImageProcessDIB processor;
  processor.FilterType(5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cImageProcessDIBTestAccess::ConvolveColumns(processor, *image, buffer));
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

template <int Kind>
void BM_Combine(benchmark::State& state) {
  auto from = Photo(Width(state), Height(state), 1);
  auto to = Photo(Width(state), Height(state), 2);
  cImageProcessDIB processor;
  for (auto _ : state) {
    if (Kind == 0) processor.AddLightest(*from, *to);
    if (Kind == 1) processor.AddDarkest(*from, *to);
    if (Kind == 2) processor.AddImages(*from, *to, -1, 0, 0, 0, 2, 0, 0, 0);
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

// Whole-surface block transfer with the plain source copy, as ProcessImage copies surfaces.
void BM_BlockTransfer_SrcCopy(benchmark::State& state) {
  auto source = Photo(Width(state), Height(state));
  cDIBSection target;
  target.Create(Width(state), Height(state));
  for (auto _ : state) {
    target.LoadPictureBlt(source->hdc());
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

// The yardstick of the block transfer: memcpy of the same rows of pixel bytes.
void BM_BlockTransfer_MemcpyRows(benchmark::State& state) {
  auto source = Photo(Width(state), Height(state));
  cDIBSection target;
  target.Create(Width(state), Height(state));
  const int32_t stride = source->BytesPerScanLine();
  const size_t rowBytes = static_cast<size_t>(Width(state)) * 3;
  for (auto _ : state) {
    for (int32_t y = 0; y < Height(state); ++y) {
      std::memcpy(target.DIBSectionBitsPtr() + static_cast<int64_t>(y) * stride,
                  source->DIBSectionBitsPtr() + static_cast<int64_t>(y) * stride, rowBytes);
    }
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

// Both of the above in turns within each iteration, so a busy machine slows both alike:
// "ratio" is the block transfer's speed over memcpy's.
void BM_BlockTransfer_AgainstMemcpy(benchmark::State& state) {
  auto source = Photo(Width(state), Height(state));
  cDIBSection target;
  target.Create(Width(state), Height(state));
  target.LoadPictureBlt(source->hdc());  // touch every page before timing
  const int32_t stride = source->BytesPerScanLine();
  const size_t rowBytes = static_cast<size_t>(Width(state)) * 3;
  double transferSeconds = 0, memcpySeconds = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    auto t0 = Clock::now();
    target.LoadPictureBlt(source->hdc());
    benchmark::ClobberMemory();
    auto t1 = Clock::now();
    for (int32_t y = 0; y < Height(state); ++y) {
      std::memcpy(target.DIBSectionBitsPtr() + static_cast<int64_t>(y) * stride,
                  source->DIBSectionBitsPtr() + static_cast<int64_t>(y) * stride, rowBytes);
    }
    benchmark::ClobberMemory();
    auto t2 = Clock::now();
    transferSeconds += std::chrono::duration<double>(t1 - t0).count();
    memcpySeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double megapixels = static_cast<double>(Width(state)) * Height(state) * state.iterations() / 1e6;
  state.counters["transfer_MP/s"] = megapixels / transferSeconds;
  state.counters["memcpy_MP/s"] = megapixels / memcpySeconds;
  state.counters["ratio"] = memcpySeconds / transferSeconds;
}

// A raster operation other than the plain copy: the general bitwise path.
void BM_BlockTransfer_SrcInvert(benchmark::State& state) {
  auto source = Photo(Width(state), Height(state));
  cDIBSection target;
  target.Create(Width(state), Height(state));
  for (auto _ : state) {
    target.LoadPictureBlt(source->hdc(), 0, 0, -1, -1, gdi::Rop::kSrcInvert);
    benchmark::ClobberMemory();
  }
  CountPixels(state, int64_t{Width(state)} * Height(state));
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({4096, 4096})->Args({200, 160})->Unit(benchmark::kMillisecond);
}

void PresetSizes(benchmark::internal::Benchmark* b) {
  for (int64_t preset = 1; preset <= 11; ++preset) {
    b->Args({4096, 4096, preset});
    b->Args({200, 160, preset});
  }
  b->ArgNames({"w", "h", "preset"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Yardstick_ReadWrite3)->Apply(Sizes);
BENCHMARK(BM_ProcessImage)->Apply(PresetSizes);
BENCHMARK(BM_Preset5AgainstReadWrite)
    ->Args({4096, 4096, 512})
    ->Args({4096, 4096, 256})
    ->ArgNames({"w", "h", "vectors"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_ProcessImageFreshBuffer)->Apply(Sizes);
BENCHMARK(BM_ProcessImageCustom5x5)->Apply(Sizes);
BENCHMARK(BM_ConvolveKernelExactTraversal)->Apply(Sizes);
BENCHMARK(BM_Combine<0>)->Name("BM_AddLightest")->Apply(Sizes);
BENCHMARK(BM_Combine<1>)->Name("BM_AddDarkest")->Apply(Sizes);
BENCHMARK(BM_Combine<2>)->Name("BM_AddImages")->Apply(Sizes);
BENCHMARK(BM_BlockTransfer_SrcCopy)->Apply(Sizes);
BENCHMARK(BM_BlockTransfer_MemcpyRows)->Apply(Sizes);
BENCHMARK(BM_BlockTransfer_AgainstMemcpy)->Apply(Sizes);
BENCHMARK(BM_BlockTransfer_SrcInvert)->Apply(Sizes);

}  // namespace
}  // namespace torvo
