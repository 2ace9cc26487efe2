// Palette files: a load either succeeds or raises one of the loader's errors and leaves the
// palette empty, and the nearest-colour search (vector code) agrees with a plain scan for colours
// taken from the input, on and off the byte range.
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "imaging/cPalette.h"
#include "platform/error.h"

namespace {

using namespace torvo;

struct Colour {
  int32_t red, green, blue;
};

// The nearest entry the slow way: exact match first wins, else the smallest sum of absolute
// differences, the lowest index on ties. Nothing when a distance does not fit in 32 bits.
std::optional<int32_t> PlainClosest(const std::vector<Colour>& entries, Colour c) {
  int64_t best = std::numeric_limits<int64_t>::max();
  int32_t bestIndex = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const int64_t d = std::llabs(int64_t{c.red} - entries[i].red) + std::llabs(int64_t{c.green} - entries[i].green) +
                      std::llabs(int64_t{c.blue} - entries[i].blue);
    if (d > std::numeric_limits<int32_t>::max()) return std::nullopt;
    if (d == 0) return static_cast<int32_t>(i + 1);
    if (d < best) {
      best = d;
      bestIndex = static_cast<int32_t>(i + 1);
    }
  }
  return bestIndex;
}

int32_t Word(const uint8_t* p) { return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFile file;
  cPalette palette;
  try {
    TORVO_FUZZ_CHECK(palette.LoadFromFile(file.Write(fuzz::Bytes(data, size))), "a load returned false");
  } catch (const TorvoError& e) {
    TORVO_FUZZ_CHECK(e.number() == kErrTypeMismatch || e.number() == kErrOverflow, "a load failed with an unexpected error");
    TORVO_FUZZ_CHECK(palette.count() == 0, "a failed load left colours behind");
    TORVO_FUZZ_CHECK(palette.ClosestIndex(0, 0, 0) == 0, "an empty palette found a colour");
    return 0;
  }

  std::vector<Colour> entries;
  for (int32_t i = 1; i <= palette.count(); ++i) entries.push_back({palette.Red(i), palette.Green(i), palette.Blue(i)});
  for (int32_t index : {0, -1, palette.count() + 1}) {
    try {
      palette.Red(index);
      TORVO_FUZZ_CHECK(false, "an index outside 1..count was read");
    } catch (const TorvoError& e) {
      TORVO_FUZZ_CHECK(e.number() == kErrSubscriptOutOfRange, "an index outside 1..count raised another error than 9");
    }
  }

  // Colours to look up: from the bytes of the input, every third one read as whole 32-bit numbers.
  std::vector<Colour> colours = {{0, 0, 0}, {255, 255, 255}};
  for (size_t at = 0; at + 3 <= size && colours.size() < 64; at += 3) colours.push_back({data[at], data[at + 1], data[at + 2]});
  for (size_t at = 0; at + 12 <= size && colours.size() < 80; at += 36) {
    colours.push_back({Word(data + at), Word(data + at + 4), Word(data + at + 8)});
  }
  for (const Colour& c : colours) {
    const auto expected = PlainClosest(entries, c);
    try {
      const int32_t found = palette.ClosestIndex(c.red, c.green, c.blue);
      TORVO_FUZZ_CHECK(expected.has_value() && found == *expected, "ClosestIndex disagrees with the plain scan");
    } catch (const TorvoError& e) {
      TORVO_FUZZ_CHECK(!expected && e.number() == kErrOverflow, "ClosestIndex raised for a distance that fits");
    }
  }
  return 0;
}
