#pragma once
// One TorvoSync window's life: the previous-instance test when it opens, a sync per press of
// "Sync" on a worker thread (the window keeps painting meanwhile), its progress handed to the
// window's thread, and the window's answer to how each sync ended. Plain C++ over small
// interfaces, so every desktop's window is a thin view over the same session.
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/http.h"
#include "platform/message_sink.h"
#include "platform/service_connection.h"
#include "platform/single_instance.h"
#include "platform/window_thread.h"
#include "sync/sync_loop.h"

namespace torvo::sync {

// The "i / n" label's text for item i of n.
std::u16string ItemCaption(int i, int n);

// What the session asks of the window; called on the window's thread only.
class SyncFormView {
 public:
  virtual ~SyncFormView() = default;
  // The "Sync" button: disabled while a sync runs.
  virtual void SetSyncEnabled(bool enabled) = 0;
  // Item i of n is looked at: the "i / n" label, and the progress bar's range.
  virtual void ShowItem(int i, int n) = 0;
  // finished of n items are done: the progress bar's value.
  virtual void ShowFinishedItems(int finished, int n) = 0;
  // How the last sync ended, and its failed items for a closer look ("" for none, or to clear).
  virtual void ShowResult(const std::u16string& outcome, const std::u16string& failures) = 0;
  // The window goes and the program ends.
  virtual void Finish() = 0;
  // A sync has ended and the window shows its outcome (before a message about it is shown).
  virtual void OutcomeShown(const SyncOutcome& /*outcome*/) {}
};

struct SyncSessionSetup {
  std::string serviceHost;
  std::u16string commandLine;  // the identity
  std::filesystem::path folder;
  // The list, and images not fetched ahead. Empty: HTTP over a connection kept open between
  // presses, aborted when the window goes, and connections ahead of the session's own making.
  Fetch fetch;
  std::string serviceUrl;         // the user's own service; empty: http at serviceHost
  std::string trustedPem;         // its certificate, trusted beside the system's
  std::string connectionProblem;  // a connection file that could not be used
  // Fetches ahead of the loop; with fetch empty, HTTP connections of their own (HttpFetchMaker).
  FetchMaker ahead;
};

// HTTP clients, each over a connection of its own, trusting trustedPem beside the system's
// certificates: the fetches that get images ahead of the sync loop.
FetchMaker HttpFetchMaker(std::string trustedPem, HttpTimeouts timeouts = {});

// Takes the user's connection file into setup: its service and certificate, and its identity when
// the command line names nobody (an identity on the command line still wins). A file, or its
// certificate, that cannot be used leaves setup's service as it was and says why in
// connectionProblem.
void UseConnection(const ConnectionFile& connection, SyncSessionSetup& setup);

class SyncSession {
 public:
  // view, windowThread, messages and instance outlive the session.
  SyncSession(SyncSessionSetup setup, SyncFormView& view, WindowThread& windowThread, MessageSink& messages,
              SingleInstanceLock& instance);
  ~SyncSession();
  SyncSession(const SyncSession&) = delete;
  SyncSession& operator=(const SyncSession&) = delete;

  // The previous-instance test. False: another copy runs; the user was told, the window asked to
  // finish, and the program ends.
  bool Load();
  // "Sync" was pressed. Ignored while a sync runs or once the window is going.
  void Sync();
  // The window is going: a running sync is cancelled and waited for; nothing is shown after.
  void Unload();

  bool Syncing() const { return worker_.joinable(); }
  bool Unloaded() const { return unloaded_; }

 private:
  void EndSync(const SyncOutcome& outcome);
  void StopWorker();

  SyncSessionSetup setup_;
  SyncFormView& view_;
  WindowThread& windowThread_;
  MessageSink& messages_;
  SingleInstanceLock& instance_;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  bool unloaded_ = false;
  // What the worker posted finds the session through this; gone with the session.
  std::shared_ptr<SyncSession*> alive_;
};

}  // namespace torvo::sync
