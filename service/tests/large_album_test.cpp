// An album larger than the newest entries a search first looks through: every page of every
// search must be the one a plain sort of all matches gives, whether the word is common (found
// among the newest), rare (found through the word index) or on the edge between the two; and a
// batch of entries comes in whole or not at all. Run against both stores.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "test_store.h"
#include "service_process.h"

namespace torvo::service {
namespace {

using testing::OpenTestStore;
using testing::TempDir;

constexpr int kEntries = 4000;  // more than the first look takes for a first page
constexpr std::time_t kStart = 1259670896;

// What entry i holds; entry i is added at kStart + i, so a higher i is newer.
bool Common(int i) { return i % 3 == 0; }
bool Seldom(int i) { return i % 100 == 7; }          // 40: thirty among the newest 3,000
bool Rare(int i) { return i == 3 || i == 50 || i == 2999; }  // all older than the newest 3,000
bool Trip(int i) { return i % 250 == 1; }              // "여행지" in the title
int FolderOf(int i) { return i % 4; }                  // 0 is the default folder
bool IsPublic(int i) { return i % 5 != 0; }

std::string Title(int i) {
  std::string title = "entry " + std::to_string(i);
  if (Common(i)) title += " common";
  if (Seldom(i)) title += " seldom";
  if (Rare(i)) title += " 두부";
  if (Trip(i)) title += " 여행지에서";
  else if (i % 250 == 2) title += " 여행 지도";  // the pairs, but not in a row
  return title;
}

class LargeAlbum : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("TZ", "UTC", 1);
    tzset();
    dir_ = new TempDir;
    store_ = OpenTestStore(dir_->path()).release();
    alice_ = store_->AddAccount("alice", "alice-tid").id;
    int64_t bob = store_->AddAccount("bob", "bob-tid").id;
    for (const char* name : {"one", "two", "three"}) store_->AddFolder(alice_, name);
    std::vector<NewEntry> entries, others;
    for (int i = 0; i < kEntries; ++i) {
      NewImage fields{FolderOf(i), IsPublic(i), "https://example.org/" + std::to_string(i), Title(i), ""};
      entries.push_back(NewEntry{fields, kStart + i});
      // Someone else's entries with the same words and times never show.
      if (i % 7 == 0) others.push_back(NewEntry{NewImage{0, true, fields.url, fields.title, ""}, kStart + i});
    }
    ASSERT_EQ(store_->AddEntries(alice_, entries), entries.size());
    store_->AddEntries(bob, others);
  }
  static void TearDownTestSuite() {
    delete store_;
    delete dir_;
  }
  static inline TempDir* dir_ = nullptr;
  static inline Store* store_ = nullptr;
  static inline int64_t alice_ = 0;
};

std::vector<std::string> Titles(const std::vector<Image>& images) {
  std::vector<std::string> titles;
  for (const auto& image : images) titles.push_back(image.title);
  return titles;
}

TEST_F(LargeAlbum, EveryPageIsThatOfAPlainSortOfAllMatches) {
  struct Case {
    const char* what;
    std::string words;
    std::function<bool(int)> holds;
    std::optional<int32_t> folder;
    bool publicOnly = false;
    int offset = 0;
  };
  const auto all = [](int) { return true; };
  const std::vector<Case> cases = {
      {"no search", "", all, {}, false, 0},
      {"no search, far page", "", all, {}, false, 2970},
      {"common word", "common", Common, {}, false, 0},
      {"common word, prefix", "COMM", Common, {}, false, 0},
      {"common word, far page", "common", Common, {}, false, 1200},
      {"common word in a folder", "common", Common, 2, false, 30},
      {"common word, public", "common", Common, {}, true, 0},
      {"seldom: the newest hold exactly one page", "seldom", Seldom, {}, false, 0},
      {"seldom, second page", "seldom", Seldom, {}, false, 30},
      {"seldom in a folder", "seldom", Seldom, 3, false, 0},
      {"rare Korean pair, only in old entries", "두부", Rare, {}, false, 0},
      {"rare, public only", "두부", Rare, {}, true, 0},
      {"a three-syllable run: its pairs in a row", "여행지", Trip, {}, false, 0},
      {"two words, one rare", "두부 entry", Rare, {}, false, 0},
      {"two common words", "common entry", Common, {}, false, 60},
      {"no such word", "nowhere", [](int) { return false; }, {}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> expected;
    for (int i = kEntries - 1; i >= 0; --i) {
      if (!c.holds(i) || (c.folder && FolderOf(i) != *c.folder) || (c.publicOnly && !IsPublic(i))) continue;
      expected.push_back(Title(i));
    }
    expected.erase(expected.begin(), expected.begin() + std::min<size_t>(expected.size(), static_cast<size_t>(c.offset)));
    if (expected.size() > 30) expected.resize(30);
    EntryQuery query{alice_, c.folder, c.words, c.offset, 30};
    auto found = c.publicOnly ? store_->PublicEntries(query) : store_->Entries(query);
    EXPECT_EQ(Titles(found), expected);
  }
}

TEST_F(LargeAlbum, BatchEntriesAreNamedAndDatedAsOneByOne) {
  auto newest = store_->Entries(EntryQuery{alice_, {}, "", 0, 2});
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[0].name, "entry-" + std::to_string(newest[0].id));
  EXPECT_EQ(newest[0].uploaded, FormatLocalTime(kStart + kEntries - 1, "%Y-%m-%d %H:%M:%S"));
  EXPECT_FALSE(newest[0].HasPicture());
  EXPECT_LT(newest[1].id, newest[0].id);
  // One added alone afterwards takes the next number, not one a batch used.
  Image single = store_->AddEntry(alice_, NewImage{0, true, "https://example.org/x", "after the batch", ""}, kStart);
  EXPECT_GT(single.id, newest[0].id);
  EXPECT_TRUE(store_->DeleteEntry(alice_, single.id));
}

TEST_F(LargeAlbum, ABatchWithAnUnknownFolderAddsNothing) {
  size_t before = store_->Entries(EntryQuery{alice_, {}, "batchword", 0, 100}).size();
  std::vector<NewEntry> batch = {{NewImage{0, true, "u", "batchword a", ""}, kStart},
                                 {NewImage{99, true, "u", "batchword b", ""}, kStart},
                                 {NewImage{1, true, "u", "batchword c", "tab\tand\nline\\end"}, kStart}};
  EXPECT_THROW(store_->AddEntries(alice_, batch), StoreError);
  EXPECT_EQ(store_->Entries(EntryQuery{alice_, {}, "batchword", 0, 100}).size(), before);
  // Without it, the rest comes in, texts as they were (tabs, line ends and backslashes too).
  batch.erase(batch.begin() + 1);
  EXPECT_EQ(store_->AddEntries(alice_, batch), 2u);
  auto found = store_->Entries(EntryQuery{alice_, {}, "batchword", 0, 100});
  ASSERT_EQ(found.size(), before + 2);
  EXPECT_EQ(found[0].note, "tab\tand\nline\\end");
  for (const auto& image : found) EXPECT_TRUE(store_->DeleteEntry(alice_, image.id));
}

}  // namespace
}  // namespace torvo::service
