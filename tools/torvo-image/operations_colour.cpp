// Colour adjustments, noise, black and white, palettes, resampling and random fill.
#include <charconv>
#include <chrono>
#include <optional>
#include <string>

#include "imaging/cPalette.h"
#include "imaging/random_fill.h"
#include "platform/random.h"
#include "tools/torvo-image/operations.h"

namespace torvo::image_tool {

namespace {

// The operation's words: the leading ones are positional, then an optional flag word, then an
// optional "--seed S" at the end.
struct SeededWords {
  size_t positional = 0;
  bool flag = false;
  std::optional<uint64_t> seed;
};

SeededWords ParseSeeded(const Invocation& run, size_t positional, const char* flag, bool seedRequired) {
  const auto& words = run.arguments();
  SeededWords parsed;
  parsed.positional = positional;
  size_t i = positional;
  if (words.size() < positional) throw UsageError("expected " + std::to_string(positional) + " argument(s) before INPUT");
  if (i < words.size() && words[i] == flag) {
    parsed.flag = true;
    ++i;
  }
  if (i < words.size() && words[i] == "--seed") {
    if (i + 1 >= words.size()) throw UsageError("--seed needs a number");
    const std::string& text = words[i + 1];
    uint64_t seed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
      throw UsageError("--seed \"" + text + "\" is not a whole number from 0 to 18446744073709551615");
    }
    parsed.seed = seed;
    i += 2;
  }
  if (i != words.size()) throw UsageError("unexpected argument \"" + words[i] + "\"");
  if (seedRequired && !parsed.seed) throw UsageError("--seed S is needed");
  return parsed;
}

// A new surface of the INPUT's size for the operations that write into a second one.
std::unique_ptr<cDIBSection> SameSize(const cDIBSection& picture) {
  auto surface = std::make_unique<cDIBSection>();
  if (!surface->Create(picture.Width(), picture.Height())) {
    throw PictureError("not enough memory for a " + std::to_string(picture.Width()) + " x " +
                       std::to_string(picture.Height()) + " result");
  }
  return surface;
}

void NoArguments(const Invocation& run) { ExpectArgumentCount(run, 0); }

}  // namespace

TORVO_IMAGE_OPERATION({"grayscale", "", "shades of grey by brightness 222 R + 707 G + 71 B", NoArguments,
                       [](Invocation& run) {
                         run.processor().GrayScale(run.image());
                       }});

TORVO_IMAGE_OPERATION({"fade", "AMOUNT", "every byte x AMOUNT / 255 (255 keeps the picture, 0 is black)",
                       [](const Invocation& run) {
                         ExpectArgumentCount(run, 1);
                         run.Integer(0);
                       },
                       [](Invocation& run) {
                         run.processor().Fade(run.image(), run.Integer(0));
                       }});

TORVO_IMAGE_OPERATION({"lighten", "AMOUNT", "lightness x (1 + AMOUNT / 100): 100 doubles it, -50 halves it",
                       [](const Invocation& run) {
                         ExpectArgumentCount(run, 1);
                         run.Integer(0);
                       },
                       [](Invocation& run) {
                         run.processor().Lighten(run.image(), run.Integer(0));
                       }});

TORVO_IMAGE_OPERATION({"colourise", "HUE SATURATION",
                       "one hue (0 red, 2 green, 4 blue, -1..5) for every pixel, lightness kept",
                       [](const Invocation& run) {
                         ExpectArgumentCount(run, 2);
                         run.Number(0);
                         run.Number(1);
                       },
                       [](Invocation& run) {
                         run.processor().Colourise(run.image(), run.Number(0), run.Number(1));
                       }});

TORVO_IMAGE_OPERATION({"noise", "PERCENT [random] [--seed S]",
                       "uniform noise PERCENT x 1.28 wide (random: on some pixels); same S, same noise",
                       [](const Invocation& run) {
                         ParseSeeded(run, 1, "random", false);
                         run.Integer(0);
                       },
                       [](Invocation& run) {
                         const SeededWords words = ParseSeeded(run, 1, "random", false);
                         // Without a seed, every run draws other numbers.
                         ReseedUniform(words.seed ? *words.seed
                                                  : static_cast<uint64_t>(
                                                        std::chrono::steady_clock::now().time_since_epoch().count()));
                         run.processor().AddNoise(run.image(), run.Integer(0), words.flag);
                       }});

TORVO_IMAGE_OPERATION({"blackwhite", "", "black and white by error diffusion (OUTPUT: the result)",
                       NoArguments,
                       [](Invocation& run) {
                         auto result = SameSize(run.image());
                         run.processor().BlackAndWhite(run.image(), *result);
                         run.SetOutput(std::move(result));
                       }});

TORVO_IMAGE_OPERATION({"palette", "PALETTE_FILE",
                       "only the colours of a palette file, with error diffusion (OUTPUT: the result)",
                       [](const Invocation& run) { ExpectArgumentCount(run, 1); },
                       [](Invocation& run) {
                         cPalette palette;
                         palette.LoadFromFile(run.arguments()[0]);
                         auto result = SameSize(run.image());
                         run.processor().ApplyPalette(run.image(), *result, palette);
                         run.SetOutput(std::move(result));
                       }});

TORVO_IMAGE_OPERATION({"resample", "WIDTH HEIGHT", "a WIDTH x HEIGHT copy by bilinear interpolation",
                       [](const Invocation& run) {
                         ExpectArgumentCount(run, 2);
                         for (size_t i = 0; i < 2; ++i) {
                           if (run.Integer(i) < 1) {
                             throw UsageError(std::string(i == 0 ? "WIDTH" : "HEIGHT") + " must be 1 or more");
                           }
                         }
                       },
                       [](Invocation& run) {
                         const int32_t width = run.Integer(0), height = run.Integer(1);
                         auto result = run.image().Resample(height, width);
                         if (!result) {
                           throw PictureError("not enough memory for a " + std::to_string(width) + " x " +
                                              std::to_string(height) + " picture");
                         }
                         run.SetOutput(std::move(result));
                       }});

TORVO_IMAGE_OPERATION({"random", "[gray] [--seed S]",
                       "random green and red (blue 0), or greys; seeded by S or the time of day",
                       [](const Invocation& run) { ParseSeeded(run, 0, "gray", false); },
                       [](Invocation& run) {
                         const SeededWords words = ParseSeeded(run, 0, "gray", false);
                         SetRandomFillSeed(words.seed);
                         run.image().RandomiseBits(words.flag);
                         SetRandomFillSeed(std::nullopt);
                       }});

}  // namespace torvo::image_tool
