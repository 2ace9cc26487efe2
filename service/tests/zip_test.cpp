#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "service/web/zip.h"
#include "service_process.h"

namespace torvo::service {
namespace {

TEST(Zip, Crc32OfTheCheckString) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
}

// The archive as another program reads it: Python's zipfile checks every CRC and the directory.
TEST(Zip, ArchiveReadsBackWithEveryFile) {
  testing::TempDir dir;
  std::string archive;
  ZipWriter zip([&](std::string_view bytes) {
    archive.append(bytes);
    return true;
  });
  std::string png = testing::MakePng(5000, 'q');
  ASSERT_TRUE(zip.Add("bookmarks.html", "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n", 1259670896));
  ASSERT_TRUE(zip.Add("thumbnails/20091201123456.png", png, 1259670896));
  ASSERT_TRUE(zip.Add("thumbnails/이름.png", "", 0));
  ASSERT_TRUE(zip.Finish());
  auto file = dir.path() / "a.zip";
  std::ofstream(file, std::ios::binary) << archive;
  std::string command = "PYTHONIOENCODING=utf-8 python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                        "assert z.testzip() is None; "
                        "print(';'.join('%s=%d' % (i.filename, i.file_size) for i in z.infolist()))\" " +
                        file.string() + " > " + (dir.path() / "out").string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream out(dir.path() / "out");
  std::string listing;
  std::getline(out, listing);
  EXPECT_EQ(listing, "bookmarks.html=36;thumbnails/20091201123456.png=5000;thumbnails/이름.png=0");
}

TEST(Zip, StopsWhenTheSinkRefuses) {
  int writes = 0;
  ZipWriter zip([&](std::string_view) { return ++writes < 2; });
  EXPECT_FALSE(zip.Add("a", "bytes", 0));
  EXPECT_FALSE(zip.Finish());
  EXPECT_EQ(writes, 2);
}

}  // namespace
}  // namespace torvo::service
