// The thumbnail pipeline's time without a benchmark library, so the same program runs on Linux
// and under Wine (run_wine_bench.sh puts the two side by side): a 1920 x 1080 capture "img1.bmp"
// to the sharpened "img.png", the median of N runs.
//   upload_pipeline_timing [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "upload/bench/screen_like_picture.h"
#include "upload/picture_file.h"
#include "upload/thumbnail_pipeline.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using namespace torvo;
  using namespace torvo::upload;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const fs::path dir = fs::temp_directory_path() / "torvo-pipeline-timing";
  const fs::path work = dir / "Torvo";
  fs::create_directories(work);
  // The same capture as the pipeline benchmark.
  auto b = bench::ScreenLikePicture();
  SavePicture(*b, dir / "source.bmp");
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    fs::copy_file(dir / "source.bmp", work / "img1.bmp", fs::copy_options::overwrite_existing);
    const auto start = std::chrono::steady_clock::now();
    Canvas picImage;
    ThumbnailState thumbnail;
    MakeThumbnail(work, picImage, thumbnail);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  const bool made = fs::exists(work / "img.png");
  fs::remove_all(dir);
  if (!made) {
    std::fprintf(stderr, "no img.png\n");
    return 1;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("pipeline %.1f ms (median of %d, fastest %.1f ms)\n", ms[ms.size() / 2], runs, ms.front());
  return 0;
}
