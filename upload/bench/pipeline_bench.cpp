// The thumbnail pipeline alone: a 1920 x 1080 capture "img1.bmp" to the sharpened "img.png",
// against ImageMagick's convert doing the same kind of job (box resize, 3 x 3 convolution, PNG)
// in the same run. run_upload_bench.sh prints the ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "upload/bench/screen_like_picture.h"
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

}  // namespace

BENCHMARK_MAIN();
