#include "sync/sync_session.h"

#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace torvo::sync {

namespace {

// Reports the loop's progress from the worker thread. Every report reaches the window, in order,
// but those made while the window's thread has not yet taken the last ones travel together: one
// wake-up of the window (and one repaint) for many items instead of two for each.
class PostingObserver final : public SyncObserver {
 public:
  PostingObserver(WindowThread& windowThread, std::weak_ptr<SyncSession*> session, SyncFormView& view)
      : windowThread_(windowThread), session_(std::move(session)), view_(view) {}
  void ItemStarted(int i, int n) override { Add({true, i, n}); }
  void ItemFinished(int i, int n, ItemResult) override { Add({false, i, n}); }

 private:
  struct Report {
    bool started;  // ItemStarted, else ItemFinished
    int i, n;
  };
  struct Pending {
    std::mutex mutex;
    std::vector<Report> reports;
    bool posted = false;  // a delivery is queued and has not taken the reports yet
  };

  void Add(Report report) {
    bool post = false;
    {
      std::lock_guard lock(pending_->mutex);
      pending_->reports.push_back(report);
      post = !std::exchange(pending_->posted, true);
    }
    if (!post) return;
    windowThread_.Post([session = session_, &view = view_, pending = pending_] {
      std::vector<Report> reports;
      {
        std::lock_guard lock(pending->mutex);
        reports.swap(pending->reports);
        pending->posted = false;
      }
      auto alive = session.lock();
      if (!alive || (*alive)->Unloaded()) return;
      for (const Report& r : reports) {
        if (r.started) {
          view.ShowItem(r.i, r.n);
        } else {
          view.ShowFinishedItems(r.i, r.n);
        }
      }
    });
  }
  WindowThread& windowThread_;
  std::weak_ptr<SyncSession*> session_;
  SyncFormView& view_;
  std::shared_ptr<Pending> pending_ = std::make_shared<Pending>();
};

}  // namespace

void UseConnection(const ConnectionFile& connection, SyncSessionSetup& setup) {
  if (connection.state == ConnectionFile::State::kBroken) setup.connectionProblem = connection.problem;
  if (connection.state != ConnectionFile::State::kRead) return;
  std::string problem;
  if (std::optional<std::string> pem = ReadCertificatePem(connection.connection, &problem)) {
    setup.serviceUrl = connection.connection.service.Url();
    setup.trustedPem = *pem;
    if (setup.commandLine.empty()) setup.commandLine = FromUtf8(connection.connection.identity);
  } else {
    setup.connectionProblem = problem;
  }
}

FetchMaker HttpFetchMaker(std::string trustedPem, HttpTimeouts timeouts) {
  return [trustedPem = std::move(trustedPem), timeouts](const std::atomic<bool>* abort) -> Fetch {
    auto client = std::make_shared<HttpClient>(timeouts);
    client->SetAbortFlag(abort);
    client->SetExtraTrustedCertificates(trustedPem);
    return [client](const std::string& url) { return client->Get(url); };
  };
}

std::u16string ItemCaption(int i, int n) {
  const std::string text = std::to_string(i) + " / " + std::to_string(n);
  return std::u16string(text.begin(), text.end());
}

SyncSession::SyncSession(SyncSessionSetup setup, SyncFormView& view, WindowThread& windowThread,
                         MessageSink& messages, SingleInstanceLock& instance)
    : setup_(std::move(setup)),
      view_(view),
      windowThread_(windowThread),
      messages_(messages),
      instance_(instance),
      alive_(std::make_shared<SyncSession*>(this)) {
  if (!setup_.fetch) {
    setup_.ahead = HttpFetchMaker(setup_.trustedPem);
    // The session's own connection, kept open between presses, aborted when the window goes.
    setup_.fetch = setup_.ahead(&cancel_);
  }
}

SyncSession::~SyncSession() {
  StopWorker();
  alive_.reset();
}

bool SyncSession::Load() {
  if (instance_.Acquire()) return true;
  messages_.Tell(kSecondCopyMessage);
  Unload();
  view_.Finish();
  return false;
}

void SyncSession::Sync() {
  if (Syncing() || unloaded_) return;
  view_.SetSyncEnabled(false);
  view_.ShowResult(u"", u"");
  cancel_ = false;
  worker_ = std::thread([this, session = std::weak_ptr<SyncSession*>(alive_)] {
    PostingObserver observer(windowThread_, session, view_);
    const SyncRequest request{setup_.serviceHost, setup_.commandLine, setup_.folder, setup_.serviceUrl,
                              setup_.connectionProblem};
    const SyncOutcome outcome = RunSync(request, setup_.fetch, observer, &cancel_, setup_.ahead);
    windowThread_.Post([session, outcome] {
      if (auto alive = session.lock()) (*alive)->EndSync(outcome);
    });
  });
}

void SyncSession::EndSync(const SyncOutcome& outcome) {
  if (worker_.joinable()) worker_.join();
  if (unloaded_) return;
  const OutcomeAnswer answer = AnswerTo(outcome);
  if (answer == OutcomeAnswer::kNothing) return;
  if (answer == OutcomeAnswer::kTellAndQuit) {
    messages_.Tell(outcome.problem);
    Unload();
    view_.Finish();
    return;
  }
  view_.ShowResult(DescribeOutcome(outcome), DescribeFailures(outcome));
  view_.SetSyncEnabled(true);
  view_.OutcomeShown(outcome);
  if (answer == OutcomeAnswer::kShowAndTell) messages_.Tell(outcome.problem);
}

void SyncSession::StopWorker() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void SyncSession::Unload() {
  unloaded_ = true;
  StopWorker();
}

}  // namespace torvo::sync
