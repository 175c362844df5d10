// A test's stand-in for a person at the file dialogs: while it lives it
// types a name into the file-name field of each file dialog that opens and
// presses OK. A window that comes up over the dialog (a question, a warning)
// is closed and counted; a dialog still open after 5 s is cancelled.
#pragma once

#include <QString>
#include <QTimer>

class FileDialogPerson {
public:
  explicit FileDialogPerson(const QString &name);

  // The name typed from the next dialog on.
  void willType(const QString &name) { name_ = name; }

  // Of the dialog answered last: its title and the folder it showed.
  const QString &title() const { return title_; }
  const QString &folder() const { return folder_; }
  // Windows closed over a dialog so far.
  int windowsClosed() const { return windowsClosed_; }

private:
  void look();

  QTimer timer_;
  QString name_, title_, folder_;
  bool answered_ = false;  // the dialog open now has its name
  int ticks_ = 0;          // how long it has been open
  int windowsClosed_ = 0;
};
