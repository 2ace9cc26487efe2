#pragma once
// The one window of TorvoSync: the "Sync" button, the "i / n" caption with a progress bar beside
// it, and a line that says how the last sync ended. The sync itself runs on a worker thread so the
// window keeps painting and answering while images download.
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/desktop/single_instance.h"
#include "platform/http.h"
#include "sync/sync_loop.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvo::sync {

class Syncfrm : public QWidget {
  Q_OBJECT

 public:
  struct Setup {
    std::string serviceHost;
    std::u16string commandLine;
    std::filesystem::path folder;
    Fetch fetch;  // empty: HTTP over one kept-open connection
  };

  explicit Syncfrm(Setup setup, QWidget* parent = nullptr);
  ~Syncfrm() override;

  // The previous-instance test. False: another copy runs; the message was shown and the window
  // is gone, so the program ends.
  bool Form_Load();
  void Cmd_Sync_Click();
  void Form_Unload();

  bool Syncing() const { return worker_.joinable(); }

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
  void ShowItem(int i, int n);
  void ShowFinishedItems(int finished, int n);
  void EndSync(const SyncOutcome& outcome);
  void StopWorker();

  Setup setup_;
  std::unique_ptr<HttpClient> client_;
  std::unique_ptr<desktop::SingleInstance> instance_;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  bool unloaded_ = false;
};

}  // namespace torvo::sync
