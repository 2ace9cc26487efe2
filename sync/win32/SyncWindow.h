#pragma once
// TorvoSync's window on Windows: the "Sync" button, the "i / n" label with a progress bar beside
// it, and the result line below with the failed items as its tooltip. Native controls over the
// sync session, which every desktop's window shares.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/message_sink.h"
#include "platform/win32/single_instance.h"
#include "platform/win32/window.h"
#include "sync/sync_session.h"

namespace torvo::sync {

class SyncWindow final : public win32::Window, private SyncFormView, private MessageSink {
 public:
  explicit SyncWindow(SyncSessionSetup setup);
  ~SyncWindow() override;

  // The previous-instance test; false: another copy runs, the user was told, the program ends.
  bool Form_Load() { return session_->Load(); }

 protected:
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void SetSyncEnabled(bool enabled) override;
  void ShowItem(int i, int n) override;
  void ShowFinishedItems(int finished, int n) override;
  void ShowResult(const std::u16string& outcome, const std::u16string& failures) override;
  void Finish() override;
  void Tell(const std::u16string& message) override;

  HWND Cmd_Sync = nullptr, LabelState = nullptr, ProgressSync = nullptr, LabelResult = nullptr;
  win32::SingleInstance instance_{"TorvoSync"};
  std::shared_ptr<win32::WindowMailbox> mailbox_;
  std::unique_ptr<SyncSession> session_;
};

}  // namespace torvo::sync
