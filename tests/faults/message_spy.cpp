// Preloaded into the programs under test (LD_PRELOAD): every message box they build, every text
// they put on a named label and every change of the enabled state of a named widget or a button
// is noted as one line in the file named by TORVO_MESSAGE_SPY,
//   box <TAB> title <TAB> text    label <TAB> object name <TAB> text    enabled <TAB> name <TAB> 0|1
// and then goes on as usual. The programs make these calls from their own code, so the dynamic
// linker hands them to the definitions here first; the widgets themselves are Qt's own.
#include <dlfcn.h>

#include <QAbstractButton>
#include <QLabel>
#include <QString>
#include <cstdio>
#include <cstdlib>

#define TORVO_MESSAGE_BOX_CONSTRUCTOR \
  "_ZN11QMessageBoxC1ENS_4IconERK7QStringS3_6QFlagsINS_14StandardButtonEEP7QWidgetS4_IN2Qt10WindowTypeEE"
#define TORVO_LABEL_SET_TEXT "_ZN6QLabel7setTextERK7QString"
#define TORVO_WIDGET_SET_ENABLED "_ZN7QWidget10setEnabledEb"

namespace {

// QMessageBox(Icon, const QString& title, const QString& text, StandardButtons, QWidget*,
// Qt::WindowFlags): the enums and flags travel as plain ints.
using Constructor = void (*)(void*, int, const QString&, const QString&, int, void*, int);
using SetText = void (*)(QLabel*, const QString&);
using SetEnabled = void (*)(QWidget*, bool);

template <typename Function>
Function Real(const char* name) {
  const auto real = reinterpret_cast<Function>(dlvsym(RTLD_NEXT, name, "Qt_6"));
  if (!real) std::abort();
  return real;
}

QString Escaped(QString text) {
  return text.replace('\\', "\\\\").replace('\n', "\\n").replace('\r', "\\r").replace('\t', "\\t");
}

void Note(const char* kind, const QString& name, const QString& text) {
  const char* path = std::getenv("TORVO_MESSAGE_SPY");
  if (!path || !*path) return;
  if (std::FILE* file = std::fopen(path, "a")) {
    std::fputs((QString::fromLatin1(kind) + '\t' + Escaped(name) + '\t' + Escaped(text) + '\n').toUtf8().constData(),
               file);
    std::fclose(file);
  }
}

}  // namespace

extern "C" void SpyMessageBox(void* self, int icon, const QString& title, const QString& text, int buttons,
                              void* parent, int flags) __asm__(TORVO_MESSAGE_BOX_CONSTRUCTOR);

extern "C" void SpyMessageBox(void* self, int icon, const QString& title, const QString& text, int buttons,
                              void* parent, int flags) {
  Note("box", title, text);
  static const auto real = Real<Constructor>(TORVO_MESSAGE_BOX_CONSTRUCTOR);
  real(self, icon, title, text, buttons, parent, flags);
}

extern "C" void SpyLabel(QLabel* self, const QString& text) __asm__(TORVO_LABEL_SET_TEXT);

extern "C" void SpyLabel(QLabel* self, const QString& text) {
  if (!self->objectName().isEmpty()) Note("label", self->objectName(), text);
  static const auto real = Real<SetText>(TORVO_LABEL_SET_TEXT);
  real(self, text);
}

extern "C" void SpyEnabled(QWidget* self, bool enabled) __asm__(TORVO_WIDGET_SET_ENABLED);

extern "C" void SpyEnabled(QWidget* self, bool enabled) {
  // A button without an object name goes by its caption.
  QString name = self->objectName();
  if (auto* button = qobject_cast<QAbstractButton*>(self); button && name.isEmpty()) name = button->text();
  if (!name.isEmpty()) Note("enabled", name, enabled ? "1" : "0");
  static const auto real = Real<SetEnabled>(TORVO_WIDGET_SET_ENABLED);
  real(self, enabled);
}
