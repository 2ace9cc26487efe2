#pragma once
// The one window of TorvoSync: the "Sync" button, the "i / n" caption with a progress bar beside
// it, and a line that says how the last sync ended. A thin Qt view over the sync session, which
// runs each sync on a worker thread so the window keeps painting and answering meanwhile.
#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/desktop/single_instance.h"
#include "platform/desktop/window_thread.h"
#include "sync/sync_session.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvo::sync {

class Syncfrm : public QWidget, private SyncFormView, private MessageSink {
  Q_OBJECT

 public:
  using Setup = SyncSessionSetup;

  explicit Syncfrm(Setup setup, QWidget* parent = nullptr);
  ~Syncfrm() override;

  // The previous-instance test. False: another copy runs; the message was shown and the window
  // is gone, so the program ends.
  bool Form_Load() { return session_->Load(); }
  // A text in the result line before any sync (how to connect, when nobody is named).
  void ShowNotice(const std::u16string& text) { ShowResult(text, u""); }
  void Cmd_Sync_Click() { session_->Sync(); }
  void Form_Unload();

  bool Syncing() const { return session_->Syncing(); }

  QPushButton* Cmd_Sync = nullptr;
  QLabel* LabelState = nullptr;
  QProgressBar* ProgressSync = nullptr;
  QLabel* LabelResult = nullptr;

 signals:
  // Emitted on the window's thread when a sync has ended and the window shows its outcome.
  void SyncEnded(const torvo::sync::SyncOutcome& outcome);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // What the session asks of the widgets.
  void SetSyncEnabled(bool enabled) override;
  void ShowItem(int i, int n) override;
  void ShowFinishedItems(int finished, int n) override;
  void ShowResult(const std::u16string& outcome, const std::u16string& failures) override;
  void Finish() override;
  void OutcomeShown(const SyncOutcome& outcome) override { emit SyncEnded(outcome); }
  void Tell(const std::u16string& message) override;

  desktop::SingleInstance instance_{"TorvoSync"};
  desktop::QtWindowThread windowThread_{this};
  std::unique_ptr<SyncSession> session_;
};

}  // namespace torvo::sync
