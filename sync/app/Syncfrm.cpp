#include "sync/app/Syncfrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/desktop/message_box.h"
#include "platform/desktop/topmost.h"

namespace torvo::sync {

namespace {

// Reports the loop's progress to the window from the worker thread. Each report is queued to the
// window's thread; a report for a window already gone is dropped by Qt.
class WindowObserver : public SyncObserver {
 public:
  explicit WindowObserver(QObject* window, std::function<void(int, int)> started, std::function<void(int, int)> finished)
      : window_(window), started_(std::move(started)), finished_(std::move(finished)) {}
  void ItemStarted(int i, int n) override {
    QMetaObject::invokeMethod(window_, [f = started_, i, n] { f(i, n); }, Qt::QueuedConnection);
  }
  void ItemFinished(int i, int n, ItemResult) override {
    QMetaObject::invokeMethod(window_, [f = finished_, i, n] { f(i, n); }, Qt::QueuedConnection);
  }

 private:
  QObject* window_;
  std::function<void(int, int)> started_;
  std::function<void(int, int)> finished_;
};

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

}  // namespace

Syncfrm::Syncfrm(Setup setup, QWidget* parent) : QWidget(parent), setup_(std::move(setup)) {
  qRegisterMetaType<torvo::sync::SyncOutcome>();
  setWindowTitle(QStringLiteral("Torvo Sync"));

  Cmd_Sync = new QPushButton(QStringLiteral("Sync"), this);
  Cmd_Sync->setObjectName(QStringLiteral("Cmd_Sync"));
  LabelState = new QLabel(QStringLiteral("0"), this);
  LabelState->setObjectName(QStringLiteral("LabelState"));
  LabelState->setMinimumWidth(LabelState->fontMetrics().horizontalAdvance(QStringLiteral("00000 / 00000")));
  ProgressSync = new QProgressBar(this);
  ProgressSync->setObjectName(QStringLiteral("ProgressSync"));
  ProgressSync->setRange(0, 1);
  ProgressSync->setValue(0);
  ProgressSync->setTextVisible(false);
  LabelResult = new QLabel(this);
  LabelResult->setObjectName(QStringLiteral("LabelResult"));
  LabelResult->setWordWrap(true);
  // Long text wraps; it never widens the window.
  LabelResult->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  LabelResult->setMinimumWidth(1);
  LabelResult->setMinimumHeight(LabelResult->fontMetrics().lineSpacing() * 5);
  LabelResult->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* row = new QHBoxLayout;
  row->addWidget(Cmd_Sync);
  row->addWidget(LabelState);
  row->addWidget(ProgressSync, 1);
  auto* column = new QVBoxLayout(this);
  column->addLayout(row);
  column->addWidget(LabelResult);
  resize(440, 130);

  connect(Cmd_Sync, &QPushButton::clicked, this, &Syncfrm::Cmd_Sync_Click);
  desktop::MakeTopmostWithoutFocus(this);

  if (!setup_.fetch) {
    client_ = std::make_unique<HttpClient>();
    client_->SetAbortFlag(&cancel_);
    setup_.fetch = [client = client_.get()](const std::string& url) { return client->Get(url); };
  }
}

Syncfrm::~Syncfrm() { StopWorker(); }

bool Syncfrm::Form_Load() {
  instance_ = std::make_unique<desktop::SingleInstance>("TorvoSync");
  if (!instance_->Acquire()) {
    desktop::ShowMessage(kSecondCopyMessage);
    Form_Unload();
    return false;
  }
  return true;
}

void Syncfrm::Cmd_Sync_Click() {
  if (Syncing()) return;
  Cmd_Sync->setEnabled(false);
  LabelResult->clear();
  LabelResult->setToolTip(QString());
  cancel_ = false;
  auto observer = std::make_shared<WindowObserver>(
      this, [this](int i, int n) { ShowItem(i, n); }, [this](int i, int n) { ShowFinishedItems(i, n); });
  worker_ = std::thread([this, observer] {
    SyncRequest request{setup_.serviceHost, setup_.commandLine, setup_.folder};
    SyncOutcome outcome = RunSync(request, setup_.fetch, *observer, &cancel_);
    QMetaObject::invokeMethod(this, [this, outcome] { EndSync(outcome); }, Qt::QueuedConnection);
  });
}

void Syncfrm::ShowItem(int i, int n) {
  LabelState->setText(QString::number(i) + QStringLiteral(" / ") + QString::number(n));
  ProgressSync->setRange(0, n);
}

void Syncfrm::ShowFinishedItems(int finished, int n) {
  ProgressSync->setRange(0, n);
  ProgressSync->setValue(finished);
}

void Syncfrm::EndSync(const SyncOutcome& outcome) {
  if (worker_.joinable()) worker_.join();
  if (unloaded_) return;
  const OutcomeAnswer answer = AnswerTo(outcome);
  if (answer == OutcomeAnswer::kNothing) return;
  if (answer == OutcomeAnswer::kTellAndQuit) {
    desktop::ShowMessage(outcome.problem);
    Form_Unload();
    QCoreApplication::quit();
    return;
  }
  LabelResult->setText(Q(DescribeOutcome(outcome)));
  // Taller when the outcome needs more lines than there are.
  const int needed = LabelResult->heightForWidth(LabelResult->width());
  if (needed > LabelResult->height()) resize(width(), height() + needed - LabelResult->height());
  LabelResult->setToolTip(Q(DescribeFailures(outcome)));
  Cmd_Sync->setEnabled(true);
  emit SyncEnded(outcome);
  if (answer == OutcomeAnswer::kShowAndTell) desktop::ShowMessage(outcome.problem);
}

void Syncfrm::StopWorker() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void Syncfrm::Form_Unload() {
  unloaded_ = true;
  hide();
  StopWorker();
}

void Syncfrm::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // Raised above everything, except above its own message box: that would hide the box and leave
  // a window that answers nothing.
  if (!QApplication::activeModalWidget()) desktop::KeepOnTop(this);
}

void Syncfrm::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

}  // namespace torvo::sync
