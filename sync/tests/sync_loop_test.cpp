#include "sync/sync_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "temp_folder.h"

namespace torvo::sync {
namespace {

using testing::Entries;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

constexpr char kList[] = "http://svc/imgList.php?tid=u%201";

HttpResult Reply(long status, std::string body) { return {true, status, std::move(body), ""}; }
HttpResult Broken(std::string error) { return {false, 0, "", std::move(error)}; }
std::u16string Number16(int n) { return FromUtf8(std::to_string(n)); }

// Answers from a table; an address it does not know is a 404. Records every address asked. Its
// fetches may be called from several threads.
struct FakeService {
  std::map<std::string, HttpResult> replies;
  std::vector<std::string> asked;
  std::mutex mutex;
  Fetch fetch() {
    return [this](const std::string& url) {
      std::lock_guard lock(mutex);
      asked.push_back(url);
      auto it = replies.find(url);
      return it == replies.end() ? Reply(404, "<h1>Not Found</h1>") : it->second;
    };
  }
};

struct Recorder : SyncObserver {
  std::vector<std::string> events;
  void ItemStarted(int i, int n) override { events.push_back(std::to_string(i) + " / " + std::to_string(n)); }
  void ItemFinished(int i, int, ItemResult r) override {
    events.push_back("done " + std::to_string(i) + (r == ItemResult::Downloaded       ? " downloaded"
                                                    : r == ItemResult::AlreadyPresent ? " present"
                                                                                      : " failed"));
  }
};

class SyncLoop : public ::testing::Test {
 protected:
  std::filesystem::path album() const { return home.path() / "Torvo"; }
  SyncOutcome Run(const std::u16string& commandLine = u"u 1", const std::atomic<bool>* cancel = nullptr) {
    recorder = Recorder();
    service.asked.clear();
    return RunSync({"svc", commandLine, album()}, service.fetch(), recorder, cancel);
  }
  TempFolder home;
  FakeService service;
  Recorder recorder;
};

TEST_F(SyncLoop, FetchesOnlyMissingImagesAndCountsEveryItem) {
  service.replies[kList] = Reply(200, "http://img/u1|a|b|C|");
  service.replies["http://img/u1/b.png"] = Reply(200, std::string("\x89PNG b\0", 7));
  service.replies["http://img/u1/.png"] = Reply(200, "empty name");
  std::filesystem::create_directory(album());
  WriteFile(album() / "a.png", "mine");
  WriteFile(album() / "c.PNG", "other case");

  SyncOutcome first = Run();
  EXPECT_EQ(first.end, SyncEnd::Finished);
  EXPECT_EQ(service.asked, (std::vector<std::string>{kList, "http://img/u1/b.png", "http://img/u1/.png"}));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"1 / 4", "done 1 present", "2 / 4", "done 2 downloaded",
                                                       "3 / 4", "done 3 present", "4 / 4", "done 4 downloaded"}));
  EXPECT_EQ(ReadFile(album() / "b.png"), std::string("\x89PNG b\0", 7));
  EXPECT_EQ(ReadFile(album() / ".png"), "empty name");
  EXPECT_EQ(ReadFile(album() / "a.png"), "mine");
  EXPECT_EQ(Entries(album()), (std::set<std::string>{"a.png", "b.png", "c.PNG", ".png"}));
  EXPECT_EQ(std::make_tuple(first.itemCount, first.downloaded, first.alreadyPresent, first.failed),
            std::make_tuple(4, 2, 2, 0));
  EXPECT_EQ(DescribeOutcome(first), u"2 downloaded, 2 already present, 0 failed.");

  SyncOutcome second = Run();
  EXPECT_EQ(service.asked, std::vector<std::string>{kList});
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"1 / 4", "done 1 present", "2 / 4", "done 2 present", "3 / 4",
                                                       "done 3 present", "4 / 4", "done 4 present"}));
  EXPECT_EQ(DescribeOutcome(second), u"0 downloaded, 4 already present, 0 failed.");
}

TEST_F(SyncLoop, UnsafeNamesAndErrorRepliesAreFailedItemsAndTheLoopGoesOn) {
  service.replies[kList] =
      Reply(200, "http://img/u1|../escape|a/b|..|.hidden|x\\y|tab\there|" + std::string(201, 'l') + "|gone|ok");
  service.replies["http://img/u1/gone.png"] = Reply(404, "<h1>404 Not Found</h1>");
  service.replies["http://img/u1/ok.png"] = Reply(200, "ok bytes");

  SyncOutcome outcome = Run();
  EXPECT_EQ(outcome.end, SyncEnd::Finished);
  EXPECT_EQ(service.asked, (std::vector<std::string>{kList, "http://img/u1/gone.png", "http://img/u1/ok.png"}));
  EXPECT_EQ(std::make_tuple(outcome.itemCount, outcome.downloaded, outcome.failed), std::make_tuple(9, 1, 8));
  ASSERT_EQ(outcome.failures.size(), 8u);
  EXPECT_EQ(outcome.failures[0].name, u"../escape");
  EXPECT_EQ(outcome.failures[7].name, u"gone");
  EXPECT_EQ(outcome.failures[7].reason, u"HTTP 404");
  EXPECT_EQ(Entries(album()), std::set<std::string>{"ok.png"});
  EXPECT_EQ(Entries(home.path()), std::set<std::string>{"Torvo"});
  EXPECT_EQ(DescribeOutcome(outcome),
            u"1 downloaded, 0 already present, 8 failed.\nFailed: ../escape.png (the name contains a slash); a/b.png "
            u"(the name contains a slash); ...png (the name begins with a dot); and 5 more");

  // The failed image is asked for again, and now it is there.
  service.replies["http://img/u1/gone.png"] = Reply(200, "back");
  Run();
  EXPECT_EQ(service.asked, (std::vector<std::string>{kList, "http://img/u1/gone.png"}));
  EXPECT_EQ(ReadFile(album() / "gone.png"), "back");
}

TEST_F(SyncLoop, TransportFailureStopsTheSyncAndKeepsWhatWasWritten) {
  service.replies[kList] = Reply(200, "http://img/u1|a|b|c");
  service.replies["http://img/u1/a.png"] = Reply(200, "a");
  service.replies["http://img/u1/b.png"] = Broken("Transferred a partial file");
  service.replies["http://img/u1/c.png"] = Reply(200, "c");

  SyncOutcome outcome = Run();
  EXPECT_EQ(outcome.end, SyncEnd::TransferFailed);
  EXPECT_EQ(service.asked, (std::vector<std::string>{kList, "http://img/u1/a.png", "http://img/u1/b.png"}));
  EXPECT_EQ(Entries(album()), std::set<std::string>{"a.png"});
  EXPECT_EQ(outcome.problem,
            u"The download of image 2 of 3 (b.png) failed: Transferred a partial file. The sync stopped; the images "
            u"downloaded so far are kept.");
  EXPECT_EQ(DescribeOutcome(outcome), u"1 downloaded, 0 already present, 1 failed, 1 not reached. " + outcome.problem +
                                         u"\nFailed: b.png (Transferred a partial file)");
}

TEST_F(SyncLoop, ListProblemsFetchNoImage) {
  struct Case {
    const char* what;
    HttpResult list;
    SyncEnd end;
    std::u16string problem;
  } cases[] = {
      {"signed out", Reply(200, "0"), SyncEnd::SignedOut, u"Please you must Login"},
      {"no connection", Broken("Couldn't connect to server"), SyncEnd::ListFailed,
       u"Could not get the image list from the service: Couldn't connect to server."},
      // An error page is not a list, even one that holds a "|".
      {"error page", Reply(500, "http://img/u1|a"), SyncEnd::ListFailed,
       u"The service could not list the images (HTTP 500)."},
      {"no address", Reply(200, "<p>|a"), SyncEnd::ListFailed,
       u"The image list from the service names no usable image address (\"<p>\"). Nothing was downloaded."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    service.replies[kList] = c.list;
    SyncOutcome outcome = Run();
    EXPECT_EQ(outcome.end, c.end);
    EXPECT_EQ(outcome.problem, c.problem);
    EXPECT_EQ(service.asked, std::vector<std::string>{kList});
    EXPECT_EQ(Entries(album()), std::set<std::string>{});
  }
}

TEST_F(SyncLoop, NobodyToSyncForSaysHowToConnectOnEveryDesktop) {
  // The same words reach the Qt window and TorvoSync.exe: the ways to connect that both have, and
  // nothing that only a Linux desktop knows.
  struct Case {
    std::string problem;
    std::u16string said;
  };
  const std::vector<Case> cases = {
      {"", kNotConnectedMessage},
      {"the file /c names no identity",
       u"The connection to the Torvo service cannot be used: the file /c names no identity. Connect again in the "
       u"Torvo toolbar's options, or with torvo-connect ADDRESS NAME."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    SyncOutcome outcome = RunSync({"svc", u"", album(), "", c.problem}, service.fetch(), recorder, nullptr);
    EXPECT_EQ(outcome.end, SyncEnd::NoIdentity);
    EXPECT_EQ(outcome.problem, c.said);
    EXPECT_EQ(NotConnectedText(c.problem), c.said);
    const std::string text = ToUtf8(c.said);
    EXPECT_NE(text.find("toolbar's options"), std::string::npos);
    EXPECT_NE(text.find("torvo-connect ADDRESS NAME"), std::string::npos);
    for (const char* linuxOnly : {"terminal", "man ", "~/"}) EXPECT_EQ(text.find(linuxOnly), std::string::npos) << linuxOnly;
  }
  EXPECT_TRUE(service.asked.empty());
}

TEST_F(SyncLoop, NothingToDo) {
  // No identity: the folder is made, nothing is asked.
  SyncOutcome outcome = Run(u"");
  EXPECT_EQ(outcome.end, SyncEnd::NoIdentity);
  EXPECT_TRUE(service.asked.empty());
  EXPECT_TRUE(std::filesystem::is_directory(album()));

  // A reply without "|" has no items: no caption is set.
  for (const char* reply : {"", "http://img/u1", "00"}) {
    service.replies[kList] = Reply(200, reply);
    outcome = Run();
    EXPECT_EQ(outcome.end, SyncEnd::Finished);
    EXPECT_EQ(outcome.itemCount, 0);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(DescribeOutcome(outcome), u"The album lists no images.");
  }

  // A base address nobody needs is never judged.
  service.replies[kList] = Reply(200, "junk|a");
  WriteFile(album() / "A.png", "x");
  EXPECT_EQ(Run().end, SyncEnd::Finished);
}

TEST_F(SyncLoop, LocalFolderProblems) {
  // Left behind by a killed sync: removed, never mistaken for an image.
  std::filesystem::create_directory(album());
  WriteFile(album() / ".TorvoSync-4242-0.part", "half an ima");
  service.replies[kList] = Reply(200, "http://img/u1|d|e");
  service.replies["http://img/u1/d.png"] = Reply(200, "d");
  service.replies["http://img/u1/e.png"] = Reply(200, "e");
  std::filesystem::create_directory(album() / "d.png");

  SyncOutcome outcome = Run();
  EXPECT_EQ(outcome.end, SyncEnd::WriteFailed);
  EXPECT_EQ(outcome.problem.substr(0, 13), u"Could not sav");
  EXPECT_EQ(std::make_tuple(outcome.downloaded, outcome.failed), std::make_tuple(0, 1));
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_EQ(outcome.failures[0].name, u"d");
  // Writing overlaps the next transfer, so e may have been fetched; it is not written after d failed.
  ASSERT_GE(service.asked.size(), 2u);
  EXPECT_EQ(service.asked[1], "http://img/u1/d.png");
  EXPECT_LE(service.asked.size(), 3u);
  EXPECT_EQ(Entries(album()), std::set<std::string>{"d.png"});
  EXPECT_TRUE(DescribeOutcome(outcome).starts_with(u"0 downloaded, 0 already present, 1 failed, 1 not reached. Could not save "));

  // The work folder's place is taken by a file.
  TempFolder other;
  WriteFile(other.path() / "Torvo", "not a folder");
  service.asked.clear();
  outcome = RunSync({"svc", u"u 1", other.path() / "Torvo"}, service.fetch(), recorder);
  EXPECT_EQ(outcome.end, SyncEnd::FolderFailed);
  EXPECT_TRUE(service.asked.empty());
  EXPECT_EQ(ReadFile(other.path() / "Torvo"), "not a folder");
}

TEST_F(SyncLoop, CancelKeepsAWholeImageAndStopsBeforeTheNextItem) {
  std::atomic<bool> cancel{false};
  service.replies[kList] = Reply(200, "http://img/u1|a|b");
  service.replies["http://img/u1/a.png"] = Reply(200, "a");
  Fetch inner = service.fetch();
  Fetch cancelling = [&](const std::string& url) {
    HttpResult r = inner(url);
    if (url.ends_with("a.png")) cancel = true;
    return r;
  };
  SyncOutcome outcome = RunSync({"svc", u"u 1", album()}, cancelling, recorder, &cancel);
  EXPECT_EQ(outcome.end, SyncEnd::Cancelled);
  EXPECT_EQ(service.asked, (std::vector<std::string>{kList, "http://img/u1/a.png"}));
  EXPECT_EQ(Entries(album()), std::set<std::string>{"a.png"});
}

// What a user sees of a sync: its outcome, the progress told, and the folder afterwards.
struct Seen {
  SyncEnd end;
  std::tuple<int, int, int, int> counts;
  std::vector<std::u16string> failures;
  std::u16string problem;
  std::vector<std::string> events;
  std::map<std::string, std::string> files;
  bool operator==(const Seen&) const = default;
};

std::map<std::string, std::string> Files(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const std::string& name : Entries(folder)) {
    files[name] = std::filesystem::is_directory(folder / name) ? "<folder>" : ReadFile(folder / name);
  }
  return files;
}

TEST(SyncAhead, FetchingAheadChangesNothingTheUserSees) {
  // Each case once with every image fetched by the loop itself, once with connections ahead that
  // answer out of order.
  struct Case {
    const char* what;
    std::string list;
    std::map<std::string, HttpResult> images;  // by name; any other is a 404
    std::vector<std::string> present;           // files in the folder before; "dir/" a folder
    std::string madeDuringTheSync;              // a file the user puts there when the first image is fetched
  };
  const std::vector<Case> cases = {
      {"present, missing, other case, twice, unsafe, error reply",
       "http://img/u1|a|b|B|c|../x|gone|d|c",
       {{"b", Reply(200, "b")}, {"c", Reply(200, "c")}, {"d", Reply(200, "d")}},
       {"a.PNG"},
       ""},
      {"a transfer breaks", "http://img/u1|a|b|c|d|e",
       {{"a", Reply(200, "a")}, {"b", Reply(200, "b")}, {"c", Broken("Transferred a partial file")},
        {"d", Reply(200, "d")}, {"e", Reply(200, "e")}},
       {},
       ""},
      {"a folder in an image's place", "http://img/u1|a|b|c|d",
       {{"a", Reply(200, "a")}, {"b", Reply(200, "b")}, {"c", Reply(200, "c")}, {"d", Reply(200, "d")}},
       {"c.png/"},
       ""},
      {"a name asked twice that failed the first time", "http://img/u1|gone|x|gone", {{"x", Reply(200, "x")}}, {}, ""},
      {"an image the user puts there meanwhile", "http://img/u1|a|b|c|d",
       {{"a", Reply(200, "a")}, {"b", Reply(200, "b")}, {"c", Reply(200, "c")}, {"d", Reply(200, "d")}},
       {},
       "c.png"},
      {"a list with no usable address", "<p>|a|b", {{"a", Reply(200, "a")}}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Seen> seen;
    for (bool ahead : {false, true}) {
      SCOPED_TRACE(ahead ? "ahead" : "one at a time");
      TempFolder home;
      const std::filesystem::path album = home.path() / "Torvo";
      std::filesystem::create_directory(album);
      for (const std::string& name : c.present) {
        if (name.ends_with("/")) std::filesystem::create_directory(album / name.substr(0, name.size() - 1));
        else WriteFile(album / name, "mine");
      }
      FakeService service;
      service.replies[kList] = Reply(200, c.list);
      for (const auto& [name, reply] : c.images) service.replies["http://img/u1/" + name + ".png"] = reply;
      std::atomic<int> calls{0};
      // The loop's own fetch answers at once; those ahead answer late and in no fixed order.
      const Fetch own = [&, inner = service.fetch()](const std::string& url) {
        if (!c.madeDuringTheSync.empty() && url.ends_with("/a.png")) WriteFile(album / c.madeDuringTheSync, "made");
        return inner(url);
      };
      const FetchMaker maker = [&](const std::atomic<bool>*) -> Fetch {
        return [&](const std::string& url) {
          std::this_thread::sleep_for(std::chrono::milliseconds(++calls % 3 * 5));
          return own(url);
        };
      };
      Recorder recorder;
      const SyncOutcome outcome =
          RunSync({"svc", u"u 1", album}, own, recorder, nullptr, ahead ? maker : FetchMaker());
      // The folders differ between the runs; the rest of a message does not.
      std::u16string problem = outcome.problem;
      const std::u16string folder = FromUtf8(album.string());
      if (size_t at = problem.find(folder); at != std::u16string::npos) problem.replace(at, folder.size(), u"ALBUM");
      Seen s{outcome.end, {outcome.itemCount, outcome.downloaded, outcome.alreadyPresent, outcome.failed}, {},
             problem, recorder.events, Files(album)};
      for (const FailedItem& f : outcome.failures) s.failures.push_back(Number16(f.index) + u" " + f.name + u" " + f.reason);
      seen.push_back(std::move(s));
      if (ahead) {
        // Every image the loop wanted came over a connection ahead, and nothing twice but the
        // name that failed the first time.
        std::map<std::string, int> times;
        for (const std::string& url : service.asked) ++times[url];
        for (const auto& [url, n] : times) EXPECT_LE(n, url.ends_with("gone.png") ? 2 : 1) << url;
        if (c.list.starts_with("http")) EXPECT_GT(calls.load(), 0);
      }
    }
    EXPECT_EQ(seen[0].end, seen[1].end);
    EXPECT_EQ(seen[0].counts, seen[1].counts);
    EXPECT_EQ(seen[0].failures, seen[1].failures);
    EXPECT_EQ(seen[0].problem, seen[1].problem);
    if (seen[0].end == SyncEnd::WriteFailed) {
      // One at a time, the writer's thread may tell the refusal after the loop has gone on to the
      // next item; ahead, the loop writes and stops at once. The progress agrees up to there.
      ASSERT_LE(seen[1].events.size(), seen[0].events.size());
      EXPECT_TRUE(std::equal(seen[1].events.begin(), seen[1].events.end(), seen[0].events.begin()));
    } else {
      EXPECT_EQ(seen[0].events, seen[1].events);
    }
    EXPECT_EQ(seen[0].files, seen[1].files);
  }
}

TEST(SyncOutcomeAnswer, WhichEndsShowABoxAndWhichEndTheProgram) {
  const std::pair<SyncEnd, OutcomeAnswer> cases[] = {
      {SyncEnd::Finished, OutcomeAnswer::kShow},
      {SyncEnd::NoIdentity, OutcomeAnswer::kShow},
      {SyncEnd::SignedOut, OutcomeAnswer::kTellAndQuit},
      {SyncEnd::FolderFailed, OutcomeAnswer::kShowAndTell},
      {SyncEnd::ListFailed, OutcomeAnswer::kShowAndTell},
      {SyncEnd::TransferFailed, OutcomeAnswer::kShowAndTell},
      {SyncEnd::WriteFailed, OutcomeAnswer::kShowAndTell},
      {SyncEnd::Cancelled, OutcomeAnswer::kNothing},
  };
  for (const auto& [end, answer] : cases) {
    SyncOutcome outcome;
    outcome.end = end;
    EXPECT_EQ(AnswerTo(outcome), answer) << static_cast<int>(end);
  }
}

TEST(SyncOutcomeAnswer, TheFailuresOneALineTheFirstTwenty) {
  SyncOutcome outcome;
  EXPECT_EQ(DescribeFailures(outcome), u"");
  for (int i = 1; i <= 23; ++i) outcome.failures.push_back({i * 2, u"사진" + std::u16string(1, u'0' + i % 10), u"HTTP 404"});
  const std::u16string text = DescribeFailures(outcome);
  EXPECT_EQ(text.substr(0, text.find(u'\n')), u"2: \"사진1.png\" — HTTP 404");
  EXPECT_EQ(std::count(text.begin(), text.end(), u'\n'), 19);
  EXPECT_EQ(text.substr(text.rfind(u'\n') + 1), u"40: \"사진0.png\" — HTTP 404");
}

}  // namespace
}  // namespace torvo::sync
