// Black and white by error diffusion, and mapping onto a palette with error diffusion.
//
// Both diffuse each pixel's error onto pixels still to be decided: 7/16 to the next pixel along
// the scan line (the next column, decided later) and a share to the scan line above. Visited
// column by column, a pixel (c, y) receives, in this order: the diagonal share of (c - 1, y - 1),
// the share of (c - 1, y) and the share of (c, y - 1), each added and clamped to 0..255 in turn;
// shares sent to columns already finished change nothing that is read again, since the result is
// copied over the source at the end. The fast forms below apply exactly those shares in exactly
// that order while walking scan line by scan line, which memory prefers; the exact forms, column
// by column with every access checked, serve whenever an error could stop the run part-way.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/cImageProcessDIB.h"
#include "imaging/cPalette.h"
#include "imaging/pixel_grid.h"
#include "platform/arithmetic.h"
#include "platform/clock.h"

namespace torvo {

namespace {

inline int32_t ClampByte(int32_t v) { return std::min(std::max(v, 0), 255); }

// Fast forms apply to two distinct surfaces of the same size with pixel memory: nothing can then
// fall outside either surface, and the final copy covers every pixel that received a share.
bool CanWalkScanLines(const cDIBSection& cFrom, const cDIBSection& cTo) {
  return cFrom.DIBSectionBitsPtr() && cTo.DIBSectionBitsPtr() &&
         cFrom.DIBSectionBitsPtr() != cTo.DIBSectionBitsPtr() && cFrom.Width() == cTo.Width() &&
         cFrom.Height() == cTo.Height() && cTo.Width() > 0 && cTo.Height() > 0;
}

}  // namespace

void cImageProcessDIB::Clamp(int32_t& value, int32_t lMin, int32_t lMax) {
  if (value < lMin)
    value = lMin;
  else if (value > lMax)
    value = lMax;
}

void cImageProcessDIB::BlackAndWhite(cDIBSection& cFrom, cDIBSection& cTo) {
  const uint32_t start = TickCountMs();
  GrayScale(cFrom);
  const int32_t xMax = CheckedMul(3, CheckedSub(cTo.Width(), 1));
  const int32_t yMax = cTo.Height() - 1;
  RaiseInitProgress(xMax);

  if (CanWalkScanLines(cFrom, cTo)) {
    const int32_t width = cTo.Width();
    const int32_t fromStride = cFrom.BytesPerScanLine();
    const int32_t toStride = cTo.BytesPerScanLine();
    // What a decided grey level v passes on: 7/16 along the line, 1/16 to the pixel up and right,
    // 5/16 to the pixel above, and for that one also the bounds clamp(share) and clamp(255 +
    // share) (see below). Index 256 stands for "no scan line below": nothing passed on.
    int32_t alongShare[256], diagonalShare[257], upwardShare[257], upwardLow[257], upwardHigh[257];
    for (int32_t v = 0; v <= 256; ++v) {
      const int32_t e = v == 256 ? 0 : v <= 128 ? (v >= 17 ? v : 0) : 127 - v;
      if (v < 256) alongShare[v] = e * 7 / 16;
      diagonalShare[v] = e / 16;
      upwardShare[v] = e * 5 / 16;
      upwardLow[v] = ClampByte(upwardShare[v]);
      upwardHigh[v] = ClampByte(255 + upwardShare[v]);
    }
    // A pixel depends on the one before it on its scan line and on two of the scan line below, so
    // a few scan lines can be worked on together, each one column behind the one below it: their
    // chains of work are independent, and the processor overlaps them. Each scan line keeps its
    // decided levels for the one above.
    constexpr int32_t kLines = 4;
    std::vector<uint16_t> levels[kLines + 1];
    for (auto& line : levels) line.assign(static_cast<size_t>(width), 256);
    uint16_t* below[kLines];
    uint16_t* decided[kLines];
    for (int32_t first = 0; first <= yMax; first += kLines) {
      const int32_t lines = std::min(kLines, yMax + 1 - first);
      const uint8_t* grey[kLines];
      uint8_t* out[kLines];
      int32_t alongLine[kLines] = {0, 0, 0, 0};
      for (int32_t r = 0; r < lines; ++r) {
        grey[r] = cFrom.DIBSectionBitsPtr() + static_cast<int64_t>(first + r) * fromStride;
        out[r] = cTo.DIBSectionBitsPtr() + static_cast<int64_t>(first + r) * toStride;
        below[r] = levels[r].data();
        decided[r] = levels[r + 1].data();
      }
      // Decides pixel c of line r; only inner columns (1 .. width - 2) take shares, the first and
      // last go by their own grey.
      auto step = [&](int32_t r, int32_t c) {
        int32_t v = grey[r][3 * c];
        if (c > 0 && c < width - 1) {
          // clamp(clamp(x) + up) is x + up held between clamp(up) and clamp(255 + up), so only
          // the share along the line waits for the pixel before.
          const int32_t up = below[r][c];
          const int32_t withUp = ClampByte(v + diagonalShare[below[r][c - 1]]) + upwardShare[up];
          v = std::min(std::max(withUp + alongLine[r], upwardLow[up]), upwardHigh[up]);
        }
        alongLine[r] = alongShare[v];
        decided[r][c] = static_cast<uint16_t>(v);
        const uint8_t blackOrWhite = static_cast<uint8_t>(v > 128 ? 255 : 0);
        out[r][3 * c] = out[r][3 * c + 1] = out[r][3 * c + 2] = blackOrWhite;
      };
      auto stepAll = [&](int32_t t) {
        for (int32_t r = 0; r < lines; ++r) {
          const int32_t c = t - r;
          if (c >= 0 && c < width) step(r, c);
        }
      };
      int32_t t = 0;
      if (lines == kLines) {
        for (; t < kLines; ++t) stepAll(t);
        // From here every line is at an inner column: the same step, written out per line so
        // that the four shares along the lines stay in registers.
        int32_t a0 = alongLine[0], a1 = alongLine[1], a2 = alongLine[2], a3 = alongLine[3];
        auto inner = [&](int32_t along, int32_t r, int32_t c) __attribute__((always_inline)) {
          const uint16_t* under = below[r];
          const int32_t up = under[c];
          const int32_t withUp = ClampByte(grey[r][3 * c] + diagonalShare[under[c - 1]]) + upwardShare[up];
          const int32_t v = std::min(std::max(withUp + along, upwardLow[up]), upwardHigh[up]);
          decided[r][c] = static_cast<uint16_t>(v);
          // Four bytes: the fourth is the next pixel's, written again when its turn comes.
          const uint32_t blackOrWhite = v > 128 ? 0xFFFFFFFFu : 0u;
          std::memcpy(out[r] + 3 * c, &blackOrWhite, 4);
          return alongShare[v];
        };
        for (; t <= width - 2; ++t) {
          a0 = inner(a0, 0, t);
          a1 = inner(a1, 1, t - 1);
          a2 = inner(a2, 2, t - 2);
          a3 = inner(a3, 3, t - 3);
        }
        alongLine[0] = a0, alongLine[1] = a1, alongLine[2] = a2, alongLine[3] = a3;
      }
      for (; t < width + lines - 1; ++t) stepAll(t);
      // The top line of this group is the line below the next.
      std::swap(levels[0], levels[lines]);
    }
    for (int32_t x = 0; x <= xMax; x += 3) RaiseProgress(x);
  } else {
    PixelGrid from(cFrom);
    PixelGrid to(cTo);
    auto spread = [&](int32_t column, int32_t line, int32_t share) {
      const uint8_t n = static_cast<uint8_t>(ClampByte(from(column, line) + share));
      from(column, line) = n;
      from(column + 1, line) = n;
      from(column + 2, line) = n;
    };
    for (int32_t x = 0; x <= xMax; x += 3) {
      for (int32_t y = 0; y <= yMax; ++y) {
        const int32_t v = from(x, y);
        int32_t e;
        if (v <= 128) {
          to(x, y) = 0, to(x + 1, y) = 0, to(x + 2, y) = 0;
          e = v >= 17 ? v : 0;
        } else {
          to(x, y) = 255, to(x + 1, y) = 255, to(x + 2, y) = 255;
          e = 127 - v;
        }
        if (x < xMax - 3) spread(x + 3, y, e * 7 / 16);
        if (y < yMax) {
          const int32_t offsets[3] = {-3, 0, 3};
          const int32_t weights[3] = {3, 5, 1};
          for (int32_t k = 0; k < 3; ++k)
            if (0 < x + offsets[k] && x + offsets[k] < xMax) spread(x + offsets[k], y + 1, e * weights[k] / 16);
        }
      }
      RaiseProgress(x);
    }
  }

  cFrom.LoadPictureBlt(cTo.hdc(), 0, 0, -1, -1, gdi::Rop::kSrcCopy);
  RaiseComplete(ElapsedMs(start, TickCountMs()));
}

void cImageProcessDIB::ApplyPalette(cDIBSection& cFrom, cDIBSection& cTo, cPalette& cPal) {
  const uint32_t start = TickCountMs();
  const int32_t xMax = CheckedMul(3, CheckedSub(cTo.Width(), 1));
  const int32_t yMax = cTo.Height() - 1;
  RaiseInitProgress(xMax);

  // An empty palette fails at the first pixel; the exact form raises it there.
  if (CanWalkScanLines(cFrom, cTo) && cPal.count() > 0) {
    // In bands of columns, each band scan line by scan line; what a band's last column passes
    // to the right waits, per scan line, for the next band. Each band's columns are finished
    // when it is done, so progress comes while the work goes on.
    constexpr int32_t kBand = 256;
    const int32_t width = cTo.Width();
    const int32_t fromStride = cFrom.BytesPerScanLine();
    const int32_t toStride = cTo.BytesPerScanLine();
    std::vector<int32_t> intoNextBand(3 * static_cast<size_t>(yMax + 1), 0);
    // Per column of the band and channel (blue, green, red): the upward share for the current
    // scan line and the one gathered for the next.
    std::vector<int32_t> upward(3 * kBand), nextUpward(3 * kBand);
    int32_t lastColour[3] = {-1, -1, -1}, lastMapped[3] = {0, 0, 0};
    for (int32_t first = 0; first < width; first += kBand) {
      const int32_t end = std::min(first + kBand, width);
      std::fill(upward.begin(), upward.end(), 0);
      for (int32_t y = 0; y <= yMax; ++y) {
        const uint8_t* in = cFrom.DIBSectionBitsPtr() + static_cast<int64_t>(y) * fromStride;
        uint8_t* out = cTo.DIBSectionBitsPtr() + static_cast<int64_t>(y) * toStride;
        int32_t* alongLine = &intoNextBand[3 * static_cast<size_t>(y)];
        for (int32_t c = first; c < end; ++c) {
          int32_t* up = &upward[3 * (c - first)];
          int32_t v[3];
          for (int32_t k = 0; k < 3; ++k) v[k] = ClampByte(ClampByte(in[3 * c + k] + alongLine[k]) + up[k]);
          // Runs of one colour are common: the same colour has the same nearest entry.
          if (v[0] != lastColour[0] || v[1] != lastColour[1] || v[2] != lastColour[2]) {
            const int32_t i = cPal.ClosestIndex(v[2], v[1], v[0]);
            lastColour[0] = v[0], lastColour[1] = v[1], lastColour[2] = v[2];
            lastMapped[0] = cPal.Blue(i), lastMapped[1] = cPal.Green(i), lastMapped[2] = cPal.Red(i);
          }
          out[3 * c] = static_cast<uint8_t>(lastMapped[0]);
          out[3 * c + 1] = static_cast<uint8_t>(lastMapped[1]);
          out[3 * c + 2] = static_cast<uint8_t>(lastMapped[2]);
          int32_t e[3];
          for (int32_t k = 0; k < 3; ++k) e[k] = v[k] - lastMapped[k];
          const bool diffuse = std::abs(e[0]) + std::abs(e[1]) + std::abs(e[2]) > 3;
          // Only inner columns (1 .. width - 2) take shares.
          const bool rightIsInner = diffuse && c + 1 <= width - 2;
          const bool aboveIsInner = diffuse && c >= 1 && c <= width - 2 && y < yMax;
          int32_t* nextUp = &nextUpward[3 * (c - first)];
          for (int32_t k = 0; k < 3; ++k) {
            alongLine[k] = rightIsInner ? e[k] * 7 / 16 : 0;
            nextUp[k] = aboveIsInner ? e[k] * 4 / 16 : 0;
          }
        }
        upward.swap(nextUpward);
      }
      for (int32_t c = first; c < end; ++c) RaiseProgress(3 * c);
    }
  } else {
    PixelGrid from(cFrom);
    PixelGrid to(cTo);
    for (int32_t x = 0; x <= xMax; x += 3) {
      for (int32_t y = 0; y <= yMax; ++y) {
        const int32_t i = cPal.ClosestIndex(from(x + 2, y), from(x + 1, y), from(x, y));
        to(x + 2, y) = cPal.Red(i);
        to(x + 1, y) = cPal.Green(i);
        to(x, y) = cPal.Blue(i);
        const int32_t eRed = from(x + 2, y) - to(x + 2, y);
        const int32_t eGreen = from(x + 1, y) - to(x + 1, y);
        const int32_t eBlue = from(x, y) - to(x, y);
        if (std::abs(eRed) + std::abs(eGreen) + std::abs(eBlue) <= 3) continue;
        // Blue, green, red: each share added, clamped and written back.
        auto spread = [&](int32_t column, int32_t line, int32_t weight) {
          const int32_t errors[3] = {eBlue, eGreen, eRed};
          for (int32_t k = 0; k < 3; ++k) {
            int32_t n = from(column + k, line) + errors[k] * weight / 16;
            Clamp(n, 0, 255);
            from(column + k, line) = static_cast<uint8_t>(n);
          }
        };
        if (x < xMax - 3) spread(x + 3, y, 7);
        if (y < yMax) {
          const int32_t offsets[3] = {-3, 0, 3};
          const int32_t weights[3] = {0, 4, 0};
          for (int32_t k = 0; k < 3; ++k)
            if (0 < x + offsets[k] && x + offsets[k] < xMax) spread(x + offsets[k], y + 1, weights[k]);
        }
      }
      RaiseProgress(x);
    }
  }

  cFrom.LoadPictureBlt(cTo.hdc(), 0, 0, -1, -1, gdi::Rop::kSrcCopy);
  RaiseComplete(ElapsedMs(start, TickCountMs()));
}

}  // namespace torvo
