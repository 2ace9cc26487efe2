#pragma once
// Inside the upload window (FormUpload.cpp, FormUpload_save.cpp only): what the upload session
// reads from and asks of the widgets, and the Qt services it runs on.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/desktop/one_shot_timer.h"
#include "platform/desktop/pending_events.h"
#include "platform/desktop/single_instance.h"
#include "platform/desktop/tcp_client.h"
#include "platform/http.h"
#include "upload/app/FormUpload.h"

namespace torvo::upload {

inline std::u16string U16(const QString& text) { return text.toStdU16String(); }

// What the session reads from and asks of the widgets, and the Qt services it runs on.
class FormUpload::SessionGlue final : public UploadFormView, public MessageSink {
 public:
  explicit SessionGlue(FormUpload& form) : form_(form) {}

  bool IsPrivate() override { return form_.Check_secu->isChecked(); }
  std::u16string Note() override { return U16(form_.Text_Note->toPlainText()); }
  std::u16string Url() override { return U16(form_.Text_URL->text()); }
  std::u16string Title() override { return U16(form_.Text_Title->text()); }
  int32_t Folder() override {
    const QComboBox* combo = form_.Combo_folder;
    const int index = combo->currentIndex();
    // Nothing chosen from the list (or a name typed into the box): the default folder.
    if (index < 0 || (combo->isEditable() && combo->currentText() != combo->itemText(index))) return 0;
    return combo->itemData(index).toInt();
  }
  void SetSaveEnabled(bool enabled) override { form_.Command1->setEnabled(enabled); }
  void FocusSave() override { form_.Command1->setFocus(); }
  void Finished(int status) override {
    form_.hide();
    form_.Form_Unload();
    if (form_.Ended) form_.Ended(status);
  }
  void Tell(const std::u16string& message) override { upload::Tell(message); }

  FormUpload& form_;
  desktop::TcpClient Winsock1;
  desktop::QtOneShotTimer replyTimer;
  desktop::QtPendingEvents pending;
};

}  // namespace torvo::upload
