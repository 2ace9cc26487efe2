#include "sync/image_writer.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace torvo::sync {
namespace {

using testing::Entries;
using testing::ReadFile;
using testing::TempFolder;

TEST(ImageWriter, WritesEveryQueuedImageInOrderEvenWithLittleRoom) {
  TempFolder folder;
  {
    // Room for less than one image: each Write waits for the one before.
    ImageWriter writer(10);
    for (int k = 1; k <= 20; ++k)
      writer.Write(k, folder.path() / (std::to_string(k) + ".png"), std::string(100 + k, static_cast<char>('a' + k)));
    writer.Finish();
    EXPECT_EQ(writer.Written(), 20);
    EXPECT_FALSE(writer.FirstFailure());
  }
  EXPECT_EQ(Entries(folder.path()).size(), 20u);
  EXPECT_EQ(ReadFile(folder.path() / "7.png"), std::string(107, 'h'));
}

TEST(ImageWriter, StopsAtTheFirstFailureAndWritesNothingAfter) {
  for (bool ownThread : {true, false}) {
    SCOPED_TRACE(ownThread ? "own thread" : "the caller's thread");
    TempFolder folder;
    std::filesystem::create_directory(folder.path() / "2.png");
    ImageWriter writer(ImageWriter::kMaxPendingBytes, ownThread);
    writer.Write(1, folder.path() / "1.png", "one");
    writer.Write(2, folder.path() / "2.png", "two");
    writer.Finish();
    writer.Write(3, folder.path() / "3.png", "three");
    writer.Finish();
    std::optional<ImageWriter::Failure> failure = writer.FirstFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->item, 2);
    EXPECT_EQ(failure->target, folder.path() / "2.png");
    EXPECT_EQ(writer.Written(), 1);
    EXPECT_EQ(Entries(folder.path()), (std::set<std::string>{"1.png", "2.png"}));
  }
}

TEST(ImageWriter, EndingWritesWhatWasQueued) {
  TempFolder folder;
  {
    ImageWriter writer;
    for (int k = 1; k <= 5; ++k) writer.Write(k, folder.path() / (std::to_string(k) + ".png"), "x");
  }
  EXPECT_EQ(Entries(folder.path()).size(), 5u);
}

}  // namespace
}  // namespace torvo::sync
