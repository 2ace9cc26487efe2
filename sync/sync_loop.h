#pragma once
// One press of "Sync": fetch the list, then handle the items one after the other, fetching only
// the images that are not in the work folder yet. Plain C++ over an injected fetch, so the window
// can run it on a worker thread and tests can run it without a network.
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/http.h"
#include "sync/image_fetcher.h"

namespace torvo::sync {

struct SyncRequest {
  std::string serviceHost;      // host[:port] of the list script
  std::u16string commandLine;   // the user's identity, the whole command line
  std::filesystem::path folder; // the work folder
  // The user's own service ("https://host/torvo/"); empty: http at serviceHost.
  std::string serviceUrl;
  // Why the connection file could not be used, told when no identity was named either.
  std::string connectionProblem;
};

// What the window says when neither the command line nor a connection names the user. Both
// desktops show it, so it names the two ways to connect that each of them has.
inline constexpr char16_t kNotConnectedMessage[] =
    u"Not connected to a Torvo service. Connect once in the Torvo toolbar's options, or with "
    u"torvo-connect ADDRESS NAME (for example torvo-connect https://example.org/torvo/ alice), then press Sync.";

// kNotConnectedMessage, or when the connection file could not be used (problem), why and how to
// connect again.
std::u16string NotConnectedText(const std::string& problem);

enum class ItemResult { Downloaded, AlreadyPresent, Failed };

class SyncObserver {
 public:
  virtual ~SyncObserver() = default;
  // Item i of n (from 1) is looked at: for every item, also the ones then skipped.
  virtual void ItemStarted(int /*i*/, int /*n*/) {}
  virtual void ItemFinished(int /*i*/, int /*n*/, ItemResult /*result*/) {}
};

enum class SyncEnd {
  Finished,        // every item was looked at (some may have failed)
  NoIdentity,      // empty command line: nothing fetched
  SignedOut,       // the list said "0"
  FolderFailed,    // the work folder could not be made
  ListFailed,      // no list: transport failure, error status, or no usable image address
  TransferFailed,  // an image transfer broke off (no connection, time-out, dropped body)
  WriteFailed,     // an image could not be saved (full disk, permissions)
  Cancelled,       // the window closed during the sync
};

struct FailedItem {
  int index = 0;  // from 1
  std::u16string name;
  std::u16string reason;
};

struct SyncOutcome {
  SyncEnd end = SyncEnd::Finished;
  int itemCount = 0;
  int downloaded = 0;
  int alreadyPresent = 0;
  int failed = 0;
  std::vector<FailedItem> failures;  // the items counted as failed, in order
  std::u16string problem;            // what stopped the sync, in plain words (ends other than Finished)
};

// Connections that fetch images ahead of the loop when it is given a FetchMaker: the service
// and the sync work side by side, without asking much more of a service that many people share.
inline constexpr int kConnectionsAhead = 3;

// Items that failed are not written, so the next sync fetches them again. A transport failure or
// a write failure stops the loop; every image written before stays. fetch gets the list, and the
// images too unless ahead is given: then kConnectionsAhead fetches of its making get the missing
// images ahead of the loop, which still looks at the items one after the other.
SyncOutcome RunSync(const SyncRequest& request, const Fetch& fetch, SyncObserver& observer,
                    const std::atomic<bool>* cancel = nullptr, const FetchMaker& ahead = {});

// What the window says when the sync has ended: the counts, and what stopped it if anything.
std::u16string DescribeOutcome(const SyncOutcome& outcome);

// How the window answers a sync that has ended; every desktop's window answers the same.
enum class OutcomeAnswer {
  kNothing,      // cancelled: the window is going
  kTellAndQuit,  // signed out: the problem in a message box, then the program ends
  kShow,         // the outcome in the window
  kShowAndTell,  // the outcome in the window, and what stopped the sync in a message box
};
OutcomeAnswer AnswerTo(const SyncOutcome& outcome);

// The failed items for a closer look (the window's tooltip), one a line as
// 3: "name.png" — reason; the first 20.
std::u16string DescribeFailures(const SyncOutcome& outcome);

}  // namespace torvo::sync
