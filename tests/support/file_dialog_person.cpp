#include "support/file_dialog_person.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

namespace {

constexpr int kLookMs = 20;
constexpr int kPatienceTicks = 5000 / kLookMs;

}  // namespace

FileDialogPerson::FileDialogPerson(const QString &name) : name_(name) {
  timer_.setInterval(kLookMs);
  QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
  timer_.start();
}

void FileDialogPerson::look() {
  QFileDialog *dialog = nullptr;
  for (QWidget *top : QApplication::topLevelWidgets())
    if (auto *found = qobject_cast<QFileDialog *>(top); found && found->isVisible())
      dialog = found;
  if (QWidget *modal = QApplication::activeModalWidget(); modal && modal != dialog) {
    ++windowsClosed_;
    modal->close();
    return;
  }
  if (!dialog)
    return;
  if (++ticks_ > kPatienceTicks) {
    static_cast<QDialog *>(dialog)->reject();
    return;
  }
  if (answered_)
    return;
  answered_ = true;
  // The next dialog may stand where this one stood: its end says it is gone.
  QObject::connect(dialog, &QDialog::finished, &timer_, [this] {
    answered_ = false;
    ticks_ = 0;
  });
  title_ = dialog->windowTitle();
  folder_ = dialog->directory().absolutePath();
  if (auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
    field->setText(name_);
  // Queued, so that a window it raises finds this timer free to close it.
  QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
}
