#pragma once
// An ordered list of colours, numbered from 1, read from a palette text file: CR LF separated
// lines, and every line cut at single spaces into exactly three fields "red green blue" is one
// colour; any other line is skipped. Answers which entry lies nearest to a colour.
#include <cstdint>
#include <filesystem>
#include <vector>

namespace torvo {

class cPalette {
 public:
  // Files larger than this are refused rather than read whole.
  static constexpr std::uintmax_t kMaxFileBytes = 16u * 1024 * 1024;

  // Index 1..count of the entry with the smallest sum of absolute channel differences, the
  // lowest index on ties; 0 only for an empty palette.
  int32_t ClosestIndex(int32_t Red, int32_t Green, int32_t Blue) const;
  int32_t count() const { return lCount; }
  // Components of entry iIndex (1..count); any other index raises error 9.
  uint8_t Red(int32_t iIndex) const;
  uint8_t Green(int32_t iIndex) const;
  uint8_t Blue(int32_t iIndex) const;

  // Empties the palette, then reads the file. Returns true when loaded; every failure is raised
  // with the source "<program>.cPalette" and leaves the palette empty: 53 for a missing file,
  // 13 for a colour field that is not a number, 6 for one outside 0..255.
  bool LoadFromFile(const std::filesystem::path& sFileName);

 private:
  struct tPaletteEntry {
    uint8_t Red;
    uint8_t Green;
    uint8_t Blue;
  };

  void Clear();
  void Add(tPaletteEntry entry);
  const tPaletteEntry& Entry(int32_t iIndex) const;

  std::vector<tPaletteEntry> tEntries;
  int32_t lCount = 0;
  // The same colours as 16-bit lanes, padded to a whole number of vectors, so the nearest-colour
  // search runs over all entries at once; padding entries lie far from every colour.
  std::vector<int16_t> searchRed, searchGreen, searchBlue;
};

}  // namespace torvo
