#include "sync/sync_loop.h"

#include <algorithm>
#include <future>
#include <system_error>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "sync/album_folder.h"
#include "sync/image_list.h"
#include "sync/image_name.h"
#include "sync/image_writer.h"

namespace torvo::sync {

namespace {

std::u16string Text(std::string_view utf8) { return FromUtf8(utf8); }
std::u16string Number(long n) { return Text(std::to_string(n)); }
std::u16string PathText(const std::filesystem::path& p) { return Text(Utf8Path(p)); }

// A name from the service may be as long as it likes; the window shows its start.
std::u16string Shortened(const std::u16string& name) {
  constexpr size_t kShown = 40;
  return name.size() <= kShown ? name : name.substr(0, kShown - 1) + u"\u2026";
}

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

SyncOutcome Stop(SyncOutcome outcome, SyncEnd end, std::u16string problem) {
  outcome.end = end;
  outcome.problem = std::move(problem);
  return outcome;
}

// What the folder's listing already says of each item, looked at once before the loop: the names
// that fail as they are, the images listed, and the images to fetch ahead, each name once.
struct FirstLook {
  bool baseUsable = false;  // whether the list's image address can be fetched from at all
  std::vector<std::optional<std::u16string>> problems;  // by item, from 0
  std::vector<bool> listed;
  std::vector<ImageFetcher::Planned> fetches;
};

FirstLook LookAtItems(const ImageList& list, const AlbumFolder& album) {
  const size_t n = list.names.size();
  FirstLook look{IsUsableBaseAddress(list.baseAddress), std::vector<std::optional<std::u16string>>(n),
                 std::vector<bool>(n), {}};
  FoldedNameSet planned;
  for (size_t i = 0; i < n; ++i) {
    const std::u16string& name = list.names[i];
    look.problems[i] = ImageNameProblem(name);
    if (look.problems[i]) continue;
    look.listed[i] = album.Listed(name, u".png");
    if (look.listed[i] || !look.baseUsable || !planned.Insert(name, u".png")) continue;
    look.fetches.push_back({static_cast<int>(i + 1), DownloadAddress(list.baseAddress, name)});
  }
  return look;
}

// The items one after the other. Downloads are counted when handed to the writer; RunSync settles
// the count once the writer is done.
SyncOutcome HandleItems(const ImageList& list, const FirstLook& look, AlbumFolder& album, ImageFetcher& fetcher,
                        ImageWriter& writer, SyncObserver& observer, const std::atomic<bool>* cancel,
                        SyncOutcome outcome) {
  const int n = outcome.itemCount;
  for (int i = 1; i <= n; ++i) {
    if (Cancelled(cancel)) return Stop(outcome, SyncEnd::Cancelled, u"");
    // A disk that refused the last image stops the sync; RunSync says why.
    if (writer.FirstFailure()) return outcome;
    const std::u16string& name = list.names[i - 1];
    observer.ItemStarted(i, n);
    auto finish = [&](ItemResult result, std::u16string reason = {}) {
      switch (result) {
        case ItemResult::Downloaded: ++outcome.downloaded; break;
        case ItemResult::AlreadyPresent: ++outcome.alreadyPresent; break;
        case ItemResult::Failed:
          ++outcome.failed;
          outcome.failures.push_back({i, name, std::move(reason)});
          break;
      }
      observer.ItemFinished(i, n, result);
    };

    if (const std::optional<std::u16string>& problem = look.problems[i - 1]) {
      finish(ItemResult::Failed, *problem);
      continue;
    }
    // Not listed: made since, or an image this sync has fetched already under another item.
    if (look.listed[i - 1] || album.FileExists(std::u16string_view(name + u".png"))) {
      finish(ItemResult::AlreadyPresent);
      continue;
    }
    const std::string fileName = ToUtf8(name + u".png");
    if (!look.baseUsable) {
      return Stop(outcome, SyncEnd::ListFailed,
                  u"The image list from the service names no usable image address (\"" + list.baseAddress +
                      u"\"). Nothing was downloaded.");
    }
    HttpResult image = fetcher.Get(i, DownloadAddress(list.baseAddress, name));
    if (!image.transportOk) {
      // A transfer cut short because the window closed is no failure to report.
      if (Cancelled(cancel)) return Stop(outcome, SyncEnd::Cancelled, u"");
      finish(ItemResult::Failed, Text(image.error));
      return Stop(outcome, SyncEnd::TransferFailed,
                  u"The download of image " + Number(i) + u" of " + Number(n) + u" (" + Shortened(name + u".png") +
                      u") failed: " + Text(image.error) + u". The sync stopped; the images downloaded so far are kept.");
    }
    if (!image.Success()) {
      finish(ItemResult::Failed, u"HTTP " + Number(image.status));
      continue;
    }
    writer.Write(i, album.folder() / fileName, std::move(image.body));
    album.Added(fileName);
    finish(ItemResult::Downloaded);
  }
  return outcome;
}

bool TlsProblem(const HttpResult& r) {
  return r.failure == HttpResult::Failure::kUntrusted || r.failure == HttpResult::Failure::kNotTls ||
         r.failure == HttpResult::Failure::kSpeaksTls;
}

// The host[:port] of an absolute address, for messages.
std::u16string HostOf(std::string_view url) {
  const size_t start = url.find("://");
  if (start == std::string_view::npos) return Text(url);
  const std::string_view rest = url.substr(start + 3);
  return Text(rest.substr(0, rest.find('/')));
}

std::u16string TlsProblemText(const HttpResult& r, std::string_view url) {
  const std::u16string host = HostOf(url);
  switch (r.failure) {
    case HttpResult::Failure::kUntrusted:
      return u"The certificate of " + host + u" is not trusted: nothing was downloaded. For a server with its own "
             u"certificate, connect with \"torvo-connect ADDRESS NAME --certificate FILE\".";
    case HttpResult::Failure::kNotTls:
      return u"The server " + host + u" does not speak https (TLS): nothing was downloaded. Is its address http://?";
    default:
      return u"The server " + host + u" speaks only https (TLS): nothing was downloaded. Connect with its https:// address.";
  }
}

}  // namespace

std::u16string NotConnectedText(const std::string& problem) {
  if (problem.empty()) return kNotConnectedMessage;
  return u"The connection to the Torvo service cannot be used: " + Text(problem) +
         u". Connect again in the Torvo toolbar's options, or with torvo-connect ADDRESS NAME.";
}

SyncOutcome RunSync(const SyncRequest& request, const Fetch& fetch, SyncObserver& observer,
                    const std::atomic<bool>* cancel, const FetchMaker& ahead) {
  SyncOutcome outcome;
  const std::filesystem::path& folder = request.folder;
  if (!DirExists(folder)) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !DirExists(folder)) {
      return Stop(outcome, SyncEnd::FolderFailed,
                  u"Could not create the folder " + PathText(folder) + u": " +
                      Text(ec ? ec.message() : "it is not a folder") + u".");
    }
  }
  // The folder is tidied and listed, in one reading, while the list is on its way.
  std::future<AlbumFolder> listing =
      std::async(std::launch::async, [folder] { return AlbumFolder::ListedAndTidied(folder); });
  if (request.commandLine.empty()) {
    return Stop(outcome, SyncEnd::NoIdentity, NotConnectedText(request.connectionProblem));
  }

  const std::string listUrl = request.serviceUrl.empty() ? ListAddress(request.serviceHost, request.commandLine)
                                                         : ListUrl(request.serviceUrl, request.commandLine);
  HttpResult listReply = fetch(listUrl);
  if (Cancelled(cancel)) return Stop(outcome, SyncEnd::Cancelled, u"");
  if (!listReply.transportOk && TlsProblem(listReply)) {
    return Stop(outcome, SyncEnd::ListFailed, TlsProblemText(listReply, listUrl));
  }
  if (!listReply.transportOk) {
    return Stop(outcome, SyncEnd::ListFailed,
                u"Could not get the image list from the service: " + Text(listReply.error) + u".");
  }
  if (!listReply.Success()) {
    return Stop(outcome, SyncEnd::ListFailed,
                u"The service could not list the images (HTTP " + Number(listReply.status) + u").");
  }
  const ImageList list = ParseImageList(listReply.body);
  if (list.signedOut) return Stop(outcome, SyncEnd::SignedOut, u"Please you must Login");

  AlbumFolder album = listing.get();
  const int n = static_cast<int>(list.names.size());
  outcome.itemCount = n;
  // With transfers ahead on threads of their own, the loop puts each image in place itself.
  ImageWriter writer(ImageWriter::kMaxPendingBytes, /*ownThread=*/!ahead);
  {
    FirstLook look = LookAtItems(list, album);
    ImageFetcher fetcher(fetch, ahead, kConnectionsAhead, cancel);
    fetcher.Plan(std::move(look.fetches));
    outcome = HandleItems(list, look, album, fetcher, writer, observer, cancel, std::move(outcome));
  }

  // Every image handed to the writer is on disk before the sync reports its end.
  writer.Finish();
  outcome.downloaded = writer.Written();
  if (std::optional<ImageWriter::Failure> failure = writer.FirstFailure(); failure && outcome.end != SyncEnd::Cancelled) {
    const std::u16string& name = list.names[failure->item - 1];
    FailedItem failed{failure->item, name, Text(failure->error)};
    auto at = std::find_if(outcome.failures.begin(), outcome.failures.end(),
                           [&](const FailedItem& item) { return item.index > failed.index; });
    outcome.failures.insert(at, failed);
    ++outcome.failed;
    // Images fetched after it were not written: they count as not reached.
    outcome = Stop(outcome, SyncEnd::WriteFailed,
                   u"Could not save " + PathText(failure->target) + u": " + Text(failure->error) +
                       u". The sync stopped; the images downloaded so far are kept.");
  }
  return outcome;
}

std::u16string DescribeOutcome(const SyncOutcome& outcome) {
  switch (outcome.end) {
    case SyncEnd::NoIdentity:
    case SyncEnd::SignedOut:
    case SyncEnd::FolderFailed:
      return outcome.problem;
    case SyncEnd::Cancelled:
      return u"Cancelled.";
    default:
      break;
  }
  if (outcome.end == SyncEnd::ListFailed && outcome.itemCount == 0) return outcome.problem;
  std::u16string text;
  if (outcome.end == SyncEnd::Finished && outcome.itemCount == 0) {
    text = u"The album lists no images.";
  } else {
    text = Number(outcome.downloaded) + u" downloaded, " + Number(outcome.alreadyPresent) + u" already present, " +
           Number(outcome.failed) + u" failed";
    const int handled = outcome.downloaded + outcome.alreadyPresent + outcome.failed;
    if (outcome.end != SyncEnd::Finished) text += u", " + Number(outcome.itemCount - handled) + u" not reached";
    text += u".";
  }
  if (outcome.end != SyncEnd::Finished) text += u" " + outcome.problem;
  // The first few failures by name, so the user sees what is missing without looking further.
  constexpr size_t kNamed = 3;
  for (size_t k = 0; k < outcome.failures.size() && k < kNamed; ++k) {
    const FailedItem& item = outcome.failures[k];
    text += (k == 0 ? u"\nFailed: " : u"; ") + Shortened(item.name + u".png") + u" (" + item.reason + u")";
  }
  if (outcome.failures.size() > kNamed) text += u"; and " + Number(outcome.failures.size() - kNamed) + u" more";
  return text;
}

OutcomeAnswer AnswerTo(const SyncOutcome& outcome) {
  switch (outcome.end) {
    case SyncEnd::Cancelled:
      return OutcomeAnswer::kNothing;
    case SyncEnd::SignedOut:
      return OutcomeAnswer::kTellAndQuit;
    case SyncEnd::FolderFailed:
    case SyncEnd::ListFailed:
    case SyncEnd::TransferFailed:
    case SyncEnd::WriteFailed:
      return OutcomeAnswer::kShowAndTell;
    case SyncEnd::Finished:
    case SyncEnd::NoIdentity:
      break;
  }
  return OutcomeAnswer::kShow;
}

std::u16string DescribeFailures(const SyncOutcome& outcome) {
  constexpr size_t kListed = 20;
  std::u16string text;
  for (size_t k = 0; k < outcome.failures.size() && k < kListed; ++k) {
    const FailedItem& item = outcome.failures[k];
    if (!text.empty()) text += u'\n';
    text += Number(item.index) + u": \"" + item.name + u".png\" — " + item.reason;
  }
  return text;
}

}  // namespace torvo::sync
