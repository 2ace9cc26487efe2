#include "service/web/zip.h"

#include <array>

namespace torvo::service {

namespace {

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
void Put64(std::string& out, uint64_t value) {
  Put32(out, static_cast<uint32_t>(value));
  Put32(out, static_cast<uint32_t>(value >> 32));
}

constexpr uint32_t kFar = 0xFFFFFFFF;
constexpr uint16_t kUtf8Names = 1 << 11;

}  // namespace

uint32_t Crc32(std::string_view bytes) {
  static const std::array<uint32_t, 256> kTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return table;
  }();
  uint32_t crc = 0xFFFFFFFF;
  for (char b : bytes) crc = kTable[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFF;
}

ZipWriter::ZipWriter(std::function<bool(std::string_view)> sink) : sink_(std::move(sink)) {}

bool ZipWriter::Write(std::string_view bytes) {
  if (ok_) ok_ = sink_(bytes);
  offset_ += bytes.size();
  return ok_;
}

bool ZipWriter::Add(std::string_view name, std::string_view bytes, std::time_t modified) {
  std::tm parts{};
  localtime_r(&modified, &parts);
  if (parts.tm_year < 80) parts = std::tm{0, 0, 0, 1, 0, 80, 0, 0, 0, 0, nullptr};
  uint32_t time = (parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2);
  uint32_t date = ((parts.tm_year - 80) << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday;
  uint32_t crc = Crc32(bytes);
  auto size = static_cast<uint32_t>(bytes.size());  // one thumbnail is far below 4 GiB
  uint64_t at = offset_;

  std::string head;
  Put32(head, 0x04034B50);
  Put16(head, 20);
  Put16(head, kUtf8Names);
  Put16(head, 0);  // stored
  Put16(head, time);
  Put16(head, date);
  Put32(head, crc);
  Put32(head, size);
  Put32(head, size);
  Put16(head, static_cast<uint32_t>(name.size()));
  Put16(head, 0);
  head += name;
  Write(head);
  Write(bytes);

  bool far = at >= kFar;
  std::string& entry = directory_;
  Put32(entry, 0x02014B50);
  Put16(entry, far ? 45 : 20);
  Put16(entry, far ? 45 : 20);
  Put16(entry, kUtf8Names);
  Put16(entry, 0);
  Put16(entry, time);
  Put16(entry, date);
  Put32(entry, crc);
  Put32(entry, size);
  Put32(entry, size);
  Put16(entry, static_cast<uint32_t>(name.size()));
  Put16(entry, far ? 12 : 0);
  Put16(entry, 0);
  Put16(entry, 0);
  Put16(entry, 0);
  Put32(entry, 0);
  Put32(entry, far ? kFar : static_cast<uint32_t>(at));
  entry += name;
  if (far) {
    Put16(entry, 0x0001);
    Put16(entry, 8);
    Put64(entry, at);
  }
  ++count_;
  return ok_;
}

bool ZipWriter::Finish() {
  uint64_t start = offset_;
  uint64_t length = directory_.size();
  Write(directory_);
  std::string end;
  bool zip64 = count_ >= 0xFFFF || start >= kFar || length >= kFar;
  if (zip64) {
    uint64_t record = offset_;
    Put32(end, 0x06064B50);
    Put64(end, 44);
    Put16(end, 45);
    Put16(end, 45);
    Put32(end, 0);
    Put32(end, 0);
    Put64(end, count_);
    Put64(end, count_);
    Put64(end, length);
    Put64(end, start);
    Put32(end, 0x07064B50);
    Put32(end, 0);
    Put64(end, record);
    Put32(end, 1);
  }
  Put32(end, 0x06054B50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, zip64 ? 0xFFFF : static_cast<uint32_t>(count_));
  Put16(end, zip64 ? 0xFFFF : static_cast<uint32_t>(count_));
  Put32(end, zip64 ? kFar : static_cast<uint32_t>(length));
  Put32(end, zip64 ? kFar : static_cast<uint32_t>(start));
  Put16(end, 0);
  Write(end);
  return ok_;
}

}  // namespace torvo::service
