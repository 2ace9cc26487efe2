// The thumbnail pipeline alone: a 1920 x 1080 capture "img1.bmp" to the sharpened "img.png",
// against ImageMagick's convert doing the same kind of job (box resize, 3 x 3 convolution, PNG)
// in the same run. run_upload_bench.sh prints the ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/freeimage_io.h"
#include "platform/picture_file.h"
#include "upload/bench/screen_like_picture.h"
#include "upload/box_rescale.h"
#include "upload/picture_file.h"
#include "upload/thumbnail_pipeline.h"

namespace {

namespace fs = std::filesystem;
using namespace torvo;
using namespace torvo::upload;

// The capture, written once.
const fs::path& Capture() {
  static const fs::path file = [] {
    char pattern[] = "/tmp/torvo-upload-bench-XXXXXX";
    fs::path dir = mkdtemp(pattern);
    auto b = bench::ScreenLikePicture();
    SavePicture(*b, dir / "source.bmp");
    return dir / "source.bmp";
  }();
  return file;
}

void Pipeline(benchmark::State& state) {
  const fs::path work = Capture().parent_path() / "Torvo";
  fs::create_directories(work);
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(Capture(), work / "img1.bmp", fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    Canvas picImage;
    ThumbnailState thumbnail;
    MakeThumbnail(work, picImage, thumbnail);
    benchmark::DoNotOptimize(thumbnail.cDibImage.DIBSectionBitsPtr());
  }
  if (!fs::exists(work / "img.png")) state.SkipWithError("no img.png");
}
BENCHMARK(Pipeline)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The capture shrunk to the thumbnail's 200 x 112, the pipeline's largest step, as TorvoTool does
// it and through FreeImage_Rescale (the same bytes).
void Rescale(benchmark::State& state, bool throughFreeImage) {
  FIBITMAP* capture = LoadPictureFile(FIF_BMP, Capture(), 0);
  for (auto _ : state) {
    FIBITMAP* scaled = throughFreeImage ? FreeImage_Rescale(capture, 200, 112, FILTER_BOX) : BoxRescale(capture, 200, 112);
    benchmark::DoNotOptimize(FreeImage_GetBits(scaled));
    FreeImage_Unload(scaled);
  }
  FreeImage_Unload(capture);
}
BENCHMARK_CAPTURE(Rescale, TorvoTool, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK_CAPTURE(Rescale, FreeImage, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

void ImageMagickConvert(benchmark::State& state) {
  const fs::path out = Capture().parent_path() / "convert.png";
  const std::string command = "convert '" + Capture().string() +
                              "' -filter Box -resize '200x112!' -convolve '-1,-1,-1,-1,15,-1,-1,-1,-1' '" +
                              out.string() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("convert failed");
      break;
    }
  }
}
BENCHMARK(ImageMagickConvert)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The browser's picture of a 1920 x 1080 page decoded as TorvoTool decodes it, beside FreeImage
// decoding the same PNG (the road it took before): a screen-like picture written here, and when
// run_upload_bench.sh names them, the browser's pictures of its start-up benchmark (a page with a
// photograph, and a photograph over the whole view). Processor time counts every thread.
const std::string& ScreenLikePng() {
  static const std::string png = [] {
    const fs::path file = Capture().parent_path() / "page.png";
    WritePicture(*bench::ScreenLikePicture(), file, PictureFormat::kPng);
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  return png;
}

std::string PngNamedBy(const char* variable) {
  const char* file = std::getenv(variable);
  if (!file || !*file) return {};
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void DecodeBrowserPicture(benchmark::State& state, const std::string& png, bool throughFreeImage) {
  for (auto _ : state) {
    auto bitmap = throughFreeImage ? DecodePngThroughFreeImage(png, 16384) : DecodePng(png, 16384);
    if (!bitmap) state.SkipWithError("the PNG was not decoded");
    benchmark::DoNotOptimize(bitmap.get());
  }
  state.counters["png_bytes"] = static_cast<double>(png.size());
}

void Register() {
  static const std::string page = PngNamedBy("TORVO_BENCH_PICTURE"), photo = PngNamedBy("TORVO_BENCH_PHOTO");
  std::vector<std::pair<const char*, const std::string*>> pictures = {{"ScreenLike", &ScreenLikePng()}};
  if (!page.empty()) pictures.emplace_back("Page", &page);
  if (!photo.empty()) pictures.emplace_back("Photo", &photo);
  for (const auto& [name, png] : pictures) {
    for (bool throughFreeImage : {false, true}) {
      const std::string title =
          std::string("DecodeBrowserPicture") + (throughFreeImage ? "ThroughFreeImage/" : "/") + name;
      benchmark::RegisterBenchmark(title.c_str(), [png = png, throughFreeImage](benchmark::State& state) {
        DecodeBrowserPicture(state, *png, throughFreeImage);
      })->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime()->MinTime(1.0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
