#include "imaging/cPalette.h"
#include "imaging/nearest_colour.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/arithmetic.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/text.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace torvo {

namespace {

constexpr int32_t kErrOutOfMemory = 7;
constexpr int32_t kErrFileAccess = 75;

std::string PaletteSource() { return ProgramName() + ".cPalette"; }

[[noreturn]] void RaisePaletteError(int32_t number, std::string description = {}) {
  throw TorvoError(number, PaletteSource(),
                   description.empty() ? RuntimeErrorText(number) : std::move(description));
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A colour field as the locale-free decimal conversion reads it: optional blanks, an optional
// sign, digits with an optional fraction (rounded to the nearest, halves to even), optional
// blanks. Anything else, the empty field included, is a type mismatch (13); a number outside
// 0..255 after rounding overflows (6).
uint8_t FieldToByte(std::string_view field) {
  size_t i = 0, end = field.size();
  while (i < end && IsBlank(field[i])) ++i;
  while (end > i && IsBlank(field[end - 1])) --end;
  bool negative = false;
  if (i < end && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  size_t intStart = i;
  while (i < end && field[i] >= '0' && field[i] <= '9') ++i;
  std::string_view integer = field.substr(intStart, i - intStart);
  std::string_view fraction;
  if (i < end && field[i] == '.') {
    size_t fracStart = ++i;
    while (i < end && field[i] >= '0' && field[i] <= '9') ++i;
    fraction = field.substr(fracStart, i - fracStart);
  }
  if (i != end || (integer.empty() && fraction.empty())) RaisePaletteError(kErrTypeMismatch);

  while (integer.size() > 1 && integer.front() == '0') integer.remove_prefix(1);
  if (integer.size() > 4) RaisePaletteError(kErrOverflow);
  int32_t value = 0;
  for (char c : integer) value = value * 10 + (c - '0');
  // Round the fraction exactly on its digits: above a half goes up, a half goes to even.
  if (!fraction.empty()) {
    const bool aboveHalf = fraction[0] > '5' ||
                           (fraction[0] == '5' && fraction.find_first_not_of('0', 1) != std::string_view::npos);
    const bool half = fraction[0] == '5' && !aboveHalf;
    if (aboveHalf || (half && value % 2 == 1)) ++value;
  }
  if (negative) value = -value;
  if (value < 0 || value > 255) RaisePaletteError(kErrOverflow);
  return static_cast<uint8_t>(value);
}

std::string ReadWholeFile(const std::filesystem::path& name) {
  std::error_code ec;
  const auto status = std::filesystem::status(name, ec);
  if (!std::filesystem::exists(status)) RaisePaletteError(kErrFileNotFound);
  if (std::filesystem::is_directory(status)) RaisePaletteError(kErrFileAccess, "Path/File access error");
  std::ifstream file(name, std::ios::binary);
  if (!file.is_open()) {
    if (!std::filesystem::exists(name, ec)) RaisePaletteError(kErrFileNotFound);
    RaisePaletteError(kErrFileAccess, "Path/File access error");
  }
  std::string bytes;
  char chunk[65536];
  // Read in pieces and stop past the limit, so a file that grows or lies about its size cannot
  // make us hold more than the limit.
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    const size_t got = static_cast<size_t>(file.gcount());
    if (bytes.size() + got > cPalette::kMaxFileBytes) {
      RaisePaletteError(kErrOutOfMemory, "Palette file is larger than 16 MiB: " + Utf8Path(name));
    }
    bytes.append(chunk, got);
  }
  if (file.bad()) RaisePaletteError(kErrFileAccess, "Path/File access error");
  return bytes;
}

}  // namespace

void cPalette::Clear() {
  tEntries.clear();
  tEntries.shrink_to_fit();
  lCount = 0;
  searchRed.clear();
  searchGreen.clear();
  searchBlue.clear();
}

void cPalette::Add(tPaletteEntry entry) {
  tEntries.push_back(entry);
  lCount = static_cast<int32_t>(tEntries.size());
}

bool cPalette::LoadFromFile(const std::filesystem::path& sFileName) {
  Clear();
  try {
    const std::string text = ReadWholeFile(sFileName);
    for (const auto& line : SplitFields(std::string_view(text), std::string_view("\r\n"))) {
      // Only a line with exactly two spaces can give three fields; skipping the rest unsplit
      // keeps a file of long blank-filled lines from costing a string per space.
      if (std::count(line.begin(), line.end(), ' ') != 2) continue;
      const auto fields = SplitFields(std::string_view(line), std::string_view(" "));
      if (fields.size() != 3) continue;
      const uint8_t red = FieldToByte(fields[0]);
      const uint8_t green = FieldToByte(fields[1]);
      const uint8_t blue = FieldToByte(fields[2]);
      Add({red, green, blue});
    }
  } catch (const TorvoError& error) {
    Clear();
    throw error.WithSource(PaletteSource());
  } catch (const std::bad_alloc&) {
    Clear();
    RaisePaletteError(kErrOutOfMemory, "Out of memory");
  }

  const size_t padded = (tEntries.size() + nearest_colour::kBlock - 1) / nearest_colour::kBlock * nearest_colour::kBlock;
  searchRed.assign(padded, nearest_colour::kFarAway);
  searchGreen.assign(padded, 0);
  searchBlue.assign(padded, 0);
  for (size_t i = 0; i < tEntries.size(); ++i) {
    searchRed[i] = tEntries[i].Red;
    searchGreen[i] = tEntries[i].Green;
    searchBlue[i] = tEntries[i].Blue;
  }
  return true;
}

const cPalette::tPaletteEntry& cPalette::Entry(int32_t iIndex) const {
  if (lCount == 0)
    RaisePaletteError(kErrSubscriptOutOfRange, "Subscript out of range: the palette is empty");
  if (iIndex < 1 || iIndex > lCount) RaisePaletteError(kErrSubscriptOutOfRange);
  return tEntries[static_cast<size_t>(iIndex) - 1];
}

uint8_t cPalette::Red(int32_t iIndex) const { return Entry(iIndex).Red; }
uint8_t cPalette::Green(int32_t iIndex) const { return Entry(iIndex).Green; }
uint8_t cPalette::Blue(int32_t iIndex) const { return Entry(iIndex).Blue; }

namespace nearest_colour {

// A distance of 0 cannot be beaten: every form stops there.
size_t Scalar(const int16_t* red, const int16_t* green, const int16_t* blue, size_t padded,
              int16_t r, int16_t g, int16_t b) {
  int best = std::numeric_limits<int16_t>::max();
  size_t bestIndex = 0;
  for (size_t i = 0; i < padded; ++i) {
    const int d = std::abs(r - red[i]) + std::abs(g - green[i]) + std::abs(b - blue[i]);
    if (d < best) {
      best = d;
      bestIndex = i;
      if (d == 0) break;
    }
  }
  return bestIndex;
}

#if defined(__x86_64__) || defined(__i386__)
// Two passes over the entries, many at a time and without branches: the smallest distance
// first, then the first entry at that distance.
static size_t SearchSse2(const int16_t* red, const int16_t* green, const int16_t* blue, size_t padded,
                         int16_t r, int16_t g, int16_t b) {
  const __m128i vr = _mm_set1_epi16(r), vg = _mm_set1_epi16(g), vb = _mm_set1_epi16(b);
  const __m128i zero = _mm_setzero_si128();
  auto distances = [&](size_t start) {
    auto absDiff = [&](__m128i a, const int16_t* p) {
      const __m128i d = _mm_sub_epi16(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + start)));
      return _mm_max_epi16(d, _mm_sub_epi16(zero, d));
    };
    return _mm_add_epi16(_mm_add_epi16(absDiff(vr, red), absDiff(vg, green)), absDiff(vb, blue));
  };
  __m128i least = _mm_set1_epi16(std::numeric_limits<int16_t>::max());
  for (size_t start = 0; start < padded; start += 8) least = _mm_min_epi16(least, distances(start));
  least = _mm_min_epi16(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(1, 0, 3, 2)));
  least = _mm_min_epi16(least, _mm_shuffle_epi32(least, _MM_SHUFFLE(2, 3, 0, 1)));
  least = _mm_min_epi16(least, _mm_shufflelo_epi16(_mm_shufflehi_epi16(least, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1)));
  for (size_t start = 0;; start += 8) {
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(distances(start), least));
    if (mask) return start + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
  }
}

__attribute__((target("avx2"))) static inline __m256i AbsDiffAvx2(__m256i a, const int16_t* p) {
  return _mm256_abs_epi16(_mm256_sub_epi16(a, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
}

__attribute__((target("avx2"))) static size_t SearchAvx2(const int16_t* red, const int16_t* green,
                                                         const int16_t* blue, size_t padded, int16_t r,
                                                         int16_t g, int16_t b) {
  const __m256i vr = _mm256_set1_epi16(r), vg = _mm256_set1_epi16(g), vb = _mm256_set1_epi16(b);
  __m256i least = _mm256_set1_epi16(std::numeric_limits<int16_t>::max());
  for (size_t start = 0; start < padded; start += 16) {
    const __m256i d = _mm256_add_epi16(_mm256_add_epi16(AbsDiffAvx2(vr, red + start), AbsDiffAvx2(vg, green + start)),
                                       AbsDiffAvx2(vb, blue + start));
    least = _mm256_min_epi16(least, d);
  }
  // Distances are never negative: the unsigned minimum of the eight lanes is the minimum.
  const __m128i halves = _mm_min_epi16(_mm256_castsi256_si128(least), _mm256_extracti128_si256(least, 1));
  const __m256i smallest = _mm256_set1_epi16(static_cast<int16_t>(_mm_extract_epi16(_mm_minpos_epu16(halves), 0)));
  for (size_t start = 0;; start += 16) {
    const __m256i d = _mm256_add_epi16(_mm256_add_epi16(AbsDiffAvx2(vr, red + start), AbsDiffAvx2(vg, green + start)),
                                       AbsDiffAvx2(vb, blue + start));
    const unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(d, smallest)));
    if (mask) return start + static_cast<size_t>(__builtin_ctz(mask)) / 2;
  }
}

#endif

Search Sse2() {
#if defined(__x86_64__) || defined(__i386__)
  return SearchSse2;
#else
  return nullptr;
#endif
}

Search Avx2() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("avx2")) return SearchAvx2;
#endif
  return nullptr;
}

Search Best() {
  static const Search best = Avx2() ? Avx2() : Sse2() ? Sse2() : Scalar;
  return best;
}

}  // namespace nearest_colour

int32_t cPalette::ClosestIndex(int32_t Red, int32_t Green, int32_t Blue) const {
  if (lCount == 0) return 0;
  if (Red >= 0 && Red <= 255 && Green >= 0 && Green <= 255 && Blue >= 0 && Blue <= 255) {
    return static_cast<int32_t>(nearest_colour::Best()(searchRed.data(), searchGreen.data(), searchBlue.data(),
                                             searchRed.size(), static_cast<int16_t>(Red),
                                             static_cast<int16_t>(Green), static_cast<int16_t>(Blue))) +
           1;
  }
  // Colours off the byte range: the plain scan in checked 32-bit arithmetic.
  int32_t bestIndex = 0;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  auto absDiff = [](int32_t a, int32_t b) {
    int32_t d = CheckedSub(a, b);
    return d < 0 ? CheckedSub(0, d) : d;
  };
  for (int32_t i = 1; i <= lCount; ++i) {
    const tPaletteEntry& e = tEntries[static_cast<size_t>(i) - 1];
    const int32_t distance =
        CheckedAdd(CheckedAdd(absDiff(Red, e.Red), absDiff(Green, e.Green)), absDiff(Blue, e.Blue));
    if (distance == 0) return i;
    if (distance < bestDistance) {
      bestDistance = distance;
      bestIndex = i;
    }
  }
  return bestIndex;
}

}  // namespace torvo
