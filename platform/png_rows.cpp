#include "platform/png_rows.h"

#include <libdeflate.h>
#include <png.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <new>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace torvo {

namespace {

struct Source {
  const uint8_t* bytes;
  size_t size;
  size_t at;
};

// A read past the end is an error, as FreeImage's memory reader makes it.
void ReadFromMemory(png_structp png, png_bytep to, size_t count) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (count > source->size - source->at) png_error(png, "Read error: invalid or corrupted PNG file");
  std::memcpy(to, source->bytes + source->at, count);
  source->at += count;
}

[[noreturn]] void Fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

// Everything that must outlive a jump out of libpng lives here, outside the frame that set it.
struct Decoding {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Source source{};
  int32_t maxSide = 0;
  PngRowsResult result;
  std::vector<uint8_t> row;  // one row of four bytes a pixel, when the picture has alpha
};

// The colour bytes of each four-byte pixel, in order.
void DropFourthBytes(const uint8_t* from, uint8_t* to, uint32_t pixels) {
  for (uint32_t x = 0; x < pixels; ++x, from += 4, to += 3) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
  }
}

// false when libpng gave up part-way.
bool Run(Decoding& d) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_set_read_fn(d.png, &d.source, ReadFromMemory);
  png_set_sig_bytes(d.png, 8);
  png_read_info(d.png, d.info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colourType = 0, interlace = 0;
  png_get_IHDR(d.png, d.info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
  if (depth != 8 || (colourType != PNG_COLOR_TYPE_RGB && colourType != PNG_COLOR_TYPE_RGB_ALPHA) ||
      interlace != PNG_INTERLACE_NONE) {
    d.result.outcome = PngRowsOutcome::kNotTaken;
    return true;
  }
  // The sides before any memory is taken for them.
  if (width == 0 || height == 0 || width > static_cast<png_uint_32>(d.maxSide) ||
      height > static_cast<png_uint_32>(d.maxSide)) {
    return true;
  }
  if (colourType == PNG_COLOR_TYPE_RGB && png_get_valid(d.png, d.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(d.png);
  png_set_bgr(d.png);
  // FreeImage corrects for the file's gamma, when it names one, towards a screen of 2.2.
  if (png_get_valid(d.png, d.info, PNG_INFO_gAMA)) {
    double gamma = 0;
    if (png_get_gAMA(d.png, d.info, &gamma)) png_set_gamma(d.png, 2.2, gamma);
  }
  png_read_update_info(d.png, d.info);
  const bool alpha = png_get_channels(d.png, d.info) == 4;
  d.result.bitmap = gdi::Bitmap::Create(static_cast<int32_t>(width), static_cast<int32_t>(height), 24);
  if (!d.result.bitmap) return true;
  if (alpha) d.row.resize(size_t{width} * 4);
  png_set_benign_errors(d.png, 1);
  // PNG rows run top down, ours bottom up.
  for (png_uint_32 k = 0; k < height; ++k) {
    uint8_t* line = d.result.bitmap->ScanLine(static_cast<int32_t>(height - 1 - k));
    if (alpha) {
      png_read_row(d.png, d.row.data(), nullptr);
      DropFourthBytes(d.row.data(), line, width);
    } else {
      png_read_row(d.png, line, nullptr);
    }
  }
  // The chunks after the pixels must be whole too, up to the end.
  png_read_end(d.png, d.info);
  d.result.outcome = PngRowsOutcome::kDecoded;
  return true;
}

// ---- The plain road -------------------------------------------------------------------------
// Browsers' pictures are plain PNGs: 8-bit RGB or RGBA, not interlaced, with no chunk that changes
// a pixel. Those are unpacked here, with libdeflate (several times as fast as zlib on these
// streams) and the five row filters, straight into our rows; libpng spends most of its time on
// the filters, one byte at a time. Anything else, and any file that is not perfectly whole (a
// wrong check, a short or overlong stream, a chunk out of place), is left to libpng, so a
// refusal or a repair is always libpng's own.

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

bool Named(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// A gAMA that libpng's correction towards a screen of 2.2 leaves out (within 5 % of 1), kept
// well inside that margin.
bool GammaChangesNothing(uint32_t hundredThousandths) { return hundredThousandths >= 44000 && hundredThousandths <= 47000; }

// Chunks that never change a pixel of ours.
bool HarmlessBeforePixels(const uint8_t* type) {
  for (const char* name : {"cHRM", "bKGD", "pHYs", "tIME", "tEXt", "zTXt", "iTXt", "iCCP"})
    if (Named(type, name)) return true;
  return false;
}
bool HarmlessAfterPixels(const uint8_t* type) {
  for (const char* name : {"tIME", "tEXt", "zTXt", "iTXt"})
    if (Named(type, name)) return true;
  return false;
}

struct PlainPng {
  uint32_t width = 0, height = 0;
  uint32_t channels = 0;
  std::vector<std::string_view> pixelChunks;
};

// The picture's layout when the file (its signature checked) is plain and whole, up to IEND.
std::optional<PlainPng> ReadPlainLayout(std::string_view png, int32_t maxSide) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
  PlainPng plain;
  enum { kHeader, kBeforePixels, kPixels, kAfterPixels } place = kHeader;
  bool gamma = false, srgb = false;
  for (size_t at = 8;;) {
    if (png.size() - at < 12) return std::nullopt;
    const uint32_t length = Be32(bytes + at);
    if (length > 0x7FFFFFFFu || length > png.size() - at - 12) return std::nullopt;
    const uint8_t* type = bytes + at + 4;
    const uint8_t* data = type + 4;
    if (libdeflate_crc32(0, type, length + 4) != Be32(data + length)) return std::nullopt;
    at += size_t{length} + 12;
    if (place == kHeader) {
      if (!Named(type, "IHDR") || length != 13) return std::nullopt;
      plain.width = Be32(data);
      plain.height = Be32(data + 4);
      if (plain.width == 0 || plain.height == 0 || plain.width > uint32_t(maxSide) || plain.height > uint32_t(maxSide))
        return std::nullopt;
      // 8 bits, RGB or RGBA, deflate, the adaptive filters, not interlaced.
      if (data[8] != 8 || (data[9] != 2 && data[9] != 6) || data[10] != 0 || data[11] != 0 || data[12] != 0)
        return std::nullopt;
      plain.channels = data[9] == 6 ? 4 : 3;
      place = kBeforePixels;
    } else if (Named(type, "IDAT")) {
      if (place == kAfterPixels) return std::nullopt;
      place = kPixels;
      plain.pixelChunks.emplace_back(reinterpret_cast<const char*>(data), length);
    } else if (Named(type, "IEND")) {
      if (place != kPixels && place != kAfterPixels) return std::nullopt;
      return length == 0 ? std::optional<PlainPng>(std::move(plain)) : std::nullopt;
    } else if (place == kBeforePixels && Named(type, "gAMA")) {
      if (gamma || length != 4 || !GammaChangesNothing(Be32(data))) return std::nullopt;
      gamma = true;
    } else if (place == kBeforePixels && Named(type, "sRGB")) {
      if (srgb || length != 1 || data[0] > 3) return std::nullopt;
      srgb = true;
    } else if (place == kBeforePixels ? HarmlessBeforePixels(type) : HarmlessAfterPixels(type)) {
      if (place == kPixels) place = kAfterPixels;
    } else {
      return std::nullopt;
    }
  }
}

#if !defined(__SSE2__)
int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}
#endif

#if defined(__SSE2__)
// A pixel's four bytes (three channels and the next pixel's first byte, or four) in the low four
// 16-bit lanes, the high four zero.
inline __m128i WidePixel(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), _mm_setzero_si128());
}

// Paeth's predictor in every 16-bit lane: of the left (a), above (b) and above-left (c) values,
// the one nearest a + b - c, ties going to a, then b.
inline __m128i PaethNearest(__m128i a, __m128i b, __m128i c) {
  const __m128i zero = _mm_setzero_si128();
  auto absolute = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
  const __m128i toB = _mm_sub_epi16(b, c), toA = _mm_sub_epi16(a, c);
  const __m128i pa = absolute(toB), pb = absolute(toA), pc = absolute(_mm_add_epi16(toA, toB));
  const __m128i least = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
  const __m128i isA = _mm_cmpeq_epi16(pa, least), isB = _mm_cmpeq_epi16(pb, least);
  const __m128i bOrC = _mm_or_si128(_mm_and_si128(isB, b), _mm_andnot_si128(isB, c));
  return _mm_or_si128(_mm_and_si128(isA, a), _mm_andnot_si128(isA, bOrC));
}

// The filtered bytes plus the prediction, modulo 256.
inline __m128i Unpredicted(__m128i raw, __m128i nearest) {
  return _mm_and_si128(_mm_add_epi16(raw, nearest), _mm_set1_epi16(0xFF));
}

// Paeth's filter a pixel at a time, the channels side by side in 16-bit lanes: the left pixel of
// each step is the one just made, so the pixels themselves cannot go side by side. Reads and
// writes four bytes a pixel (the row must have one byte to spare after it for three channels).
template <uint32_t kChannels>
void UnpaethRow(uint8_t* row, const uint8_t* prior, size_t bytes) {
  __m128i a = _mm_setzero_si128(), c = a;
  for (size_t i = 0; i < bytes; i += kChannels) {
    const __m128i b = WidePixel(prior + i);
    a = Unpredicted(WidePixel(row + i), PaethNearest(a, b, c));
    c = b;
    const int32_t made = _mm_cvtsi128_si32(_mm_packus_epi16(a, a));
    std::memcpy(row + i, &made, kChannels);
  }
}

// Paeth's filter on two rows at once, the second one pixel behind the first: each pixel waits for
// the one to its left, so one row is a chain of dependent steps, and two chains side by side in one
// register take little longer than one. `row` is above `next`, and `prior` above `row`. Reads and
// writes as UnpaethRow does; reads a pixel's bytes past the end of `prior` and `row` too (the
// next row's, unused).
template <uint32_t kChannels>
void UnpaethTwoRows(const uint8_t* prior, uint8_t* row, uint8_t* next, size_t bytes) {
  // The first pixel of `row`: with nothing to its left, the pixel above.
  for (size_t i = 0; i < kChannels; ++i) row[i] = uint8_t(row[i] + prior[i]);
  // Low half: `row` at x; high half: `next` at x - 1. a: left, b: above, c: above left. The pixel
  // above `next`'s is the one `row` made a step before, and this step's c is the last step's b.
  __m128i a = WidePixel(row), c = WidePixel(prior);
  const size_t pixels = bytes / kChannels;
  for (size_t x = 1; x <= pixels; ++x) {
    const size_t at = x * kChannels;
    const __m128i b = _mm_unpacklo_epi64(WidePixel(prior + at), a);
    const __m128i raw = _mm_unpacklo_epi64(WidePixel(row + at), WidePixel(next + at - kChannels));
    a = Unpredicted(raw, PaethNearest(a, b, c));
    c = b;
    const int64_t made = _mm_cvtsi128_si64(_mm_packus_epi16(a, a));
    // The last step is `next`'s last pixel alone.
    if (x < pixels) std::memcpy(row + at, &made, kChannels);
    std::memcpy(next + at - kChannels, reinterpret_cast<const char*>(&made) + 4, kChannels);
  }
}
#endif

// Undoes one row's filter in place; `prior` is the row above, unfiltered (zeros for the first).
template <uint32_t kChannels>
bool Unfilter(uint8_t filter, uint8_t* row, const uint8_t* prior, size_t bytes) {
  switch (filter) {
    case 0:
      return true;
    case 1:
      for (size_t i = kChannels; i < bytes; ++i) row[i] = uint8_t(row[i] + row[i - kChannels]);
      return true;
    case 2:
      for (size_t i = 0; i < bytes; ++i) row[i] = uint8_t(row[i] + prior[i]);
      return true;
    case 3:
      for (size_t i = 0; i < kChannels; ++i) row[i] = uint8_t(row[i] + (prior[i] >> 1));
      for (size_t i = kChannels; i < bytes; ++i) row[i] = uint8_t(row[i] + ((row[i - kChannels] + prior[i]) >> 1));
      return true;
    case 4:
#if defined(__SSE2__)
      UnpaethRow<kChannels>(row, prior, bytes);
#else
      for (size_t i = 0; i < kChannels; ++i) row[i] = uint8_t(row[i] + prior[i]);
      for (size_t i = kChannels; i < bytes; ++i)
        row[i] = uint8_t(row[i] + Paeth(row[i - kChannels], prior[i], prior[i - kChannels]));
#endif
      return true;
    default:
      return false;
  }
}

template <uint32_t kChannels>
void ToBlueFirst(const uint8_t* from, uint8_t* to, uint32_t pixels) {
  for (uint32_t x = 0; x < pixels; ++x, from += kChannels, to += 3) {
    to[0] = from[2];
    to[1] = from[1];
    to[2] = from[0];
  }
}

// The pixel stream, inflated whole into `rows` (each row after its filter byte): true only when
// it is one zlib stream with its check, a 32 KB window as its header says (a smaller window
// would refuse a distance that the inflater here takes), exactly the rows' bytes, and nothing
// after it.
bool InflateRows(const PlainPng& plain, uint8_t* rows, size_t rowsBytes, uint8_t* joined) {
  std::string_view stream = plain.pixelChunks.front();
  if (plain.pixelChunks.size() > 1) {
    // The stream is whole only across its chunks: joined into the room left for it.
    size_t at = 0;
    for (std::string_view chunk : plain.pixelChunks) {
      std::memcpy(joined + at, chunk.data(), chunk.size());
      at += chunk.size();
    }
    stream = std::string_view(reinterpret_cast<const char*>(joined), at);
  }
  if (stream.size() < 2 || (uint8_t(stream[0]) >> 4) != 7) return false;
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  const std::unique_ptr<libdeflate_decompressor, Free> inflater(libdeflate_alloc_decompressor());
  if (!inflater) return false;
  size_t read = 0, written = 0;
  return libdeflate_zlib_decompress_ex(inflater.get(), stream.data(), stream.size(), rows, rowsBytes, &read,
                                       &written) == LIBDEFLATE_SUCCESS &&
         read == stream.size() && written == rowsBytes;
}

size_t PixelStreamBytes(const PlainPng& plain) {
  size_t bytes = 0;
  for (std::string_view chunk : plain.pixelChunks) bytes += chunk.size();
  return bytes;
}

template <uint32_t kChannels>
PngRowsResult UnpackPlain(const PlainPng& plain) {
  PngRowsResult result;
  result.outcome = PngRowsOutcome::kNotTaken;
  std::unique_ptr<gdi::Bitmap> bitmap = gdi::Bitmap::Create(int32_t(plain.width), int32_t(plain.height), 24);
  if (!bitmap) return result;
  const size_t rowBytes = size_t{plain.width} * kChannels;
  const size_t rowStride = rowBytes + 1;
  const size_t rowsBytes = rowStride * size_t{plain.height};
  // One zero row above the first, every row after its filter byte, a few bytes to spare, then
  // room for the pixel chunks joined when there are several.
  const size_t joinedAt = rowStride + rowsBytes + 4;
  const size_t joinedBytes = plain.pixelChunks.size() > 1 ? PixelStreamBytes(plain) : 0;
  std::unique_ptr<uint8_t, gdi::FreePixels> work(
      gdi::AllocatePixels(int64_t(joinedAt + joinedBytes), /*zeroed=*/false));
  if (!work) return result;
  std::memset(work.get(), 0, rowStride);
  uint8_t* rows = work.get() + rowStride;
  if (!InflateRows(plain, rows, rowsBytes, work.get() + joinedAt)) return result;
  for (uint32_t k = 0; k < plain.height; ++k) {
    uint8_t* row = rows + size_t{k} * rowStride;
#if defined(__SSE2__)
    if (row[0] == 4 && k + 1 < plain.height && row[rowStride] == 4) {
      UnpaethTwoRows<kChannels>(row + 1 - rowStride, row + 1, row + 1 + rowStride, rowBytes);
      ToBlueFirst<kChannels>(row + 1, bitmap->ScanLine(int32_t(plain.height - 1 - k)), plain.width);
      ++k;
      ToBlueFirst<kChannels>(row + 1 + rowStride, bitmap->ScanLine(int32_t(plain.height - 1 - k)), plain.width);
      continue;
    }
#endif
    if (!Unfilter<kChannels>(row[0], row + 1, row + 1 - rowStride, rowBytes)) return result;
    ToBlueFirst<kChannels>(row + 1, bitmap->ScanLine(int32_t(plain.height - 1 - k)), plain.width);
  }
  result.outcome = PngRowsOutcome::kDecoded;
  result.bitmap = std::move(bitmap);
  return result;
}

}  // namespace

PngRowsResult DecodePlainPng(std::string_view png, int32_t maxSide) {
  if (png.size() < 8 || png.size() > 0x7FFFFFFFu || png.substr(0, 8) != std::string_view("\x89PNG\r\n\x1A\n", 8))
    return {PngRowsOutcome::kNotTaken, nullptr};
  const std::optional<PlainPng> plain = ReadPlainLayout(png, maxSide);
  if (!plain) return {PngRowsOutcome::kNotTaken, nullptr};
  return plain->channels == 4 ? UnpackPlain<4>(*plain) : UnpackPlain<3>(*plain);
}

bool PngChunksFit(std::string_view png) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
  size_t at = 8;
  while (at + 8 <= png.size()) {
    const uint64_t length = uint64_t{bytes[at]} << 24 | uint64_t{bytes[at + 1]} << 16 | uint64_t{bytes[at + 2]} << 8 | bytes[at + 3];
    if (length + 12 > png.size() - at) return false;
    if (std::memcmp(bytes + at + 4, "IEND", 4) == 0) return true;
    at += 12 + static_cast<size_t>(length);
  }
  return true;
}

PngRowsResult DecodePngRows(std::string_view png, int32_t maxSide) {
  if (png.size() < 8 || png.size() > 0x7FFFFFFFu) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
  if (png_sig_cmp(bytes, 0, 8) != 0 || !PngChunksFit(png)) return {};
  if (PngRowsResult plain = DecodePlainPng(png, maxSide); plain.outcome == PngRowsOutcome::kDecoded) return plain;
  return DecodeThroughLibpng(png, maxSide);
}

PngRowsResult DecodeThroughLibpng(std::string_view png, int32_t maxSide) {
  Decoding d;
  if (png.size() < 8 || png.size() > 0x7FFFFFFFu) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
  if (png_sig_cmp(bytes, 0, 8) != 0 || !PngChunksFit(png)) return {};
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, IgnoreWarning);
  if (!d.png) return {};
  d.info = png_create_info_struct(d.png);
  if (d.info) {
    d.source = {bytes, png.size(), 8};
    d.maxSide = maxSide;
    if (!Run(d)) d.result = {};
  }
  png_destroy_read_struct(&d.png, d.info ? &d.info : nullptr, nullptr);
  if (d.result.outcome != PngRowsOutcome::kDecoded) d.result.bitmap.reset();
  return std::move(d.result);
}

}  // namespace torvo
