#include "pane/pane_find_bar.h"

#include "pane/pane_view.h"
#include "resources/glyphs.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// A run of slices holds the window at most this long, plus one slice of
// kSlicePlaces starting places (well under a millisecond).
constexpr qint64 kRunMs = 5;
constexpr std::int64_t kSlicePlaces = 128 * 1024;

}  // namespace

PaneFindBar::PaneFindBar(DisplayPane *pane) : QFrame(pane), pane_(pane), finder_(pane->model()) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  setAutoFillBackground(true);
  setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));  // not the pane's
  auto *row = new QHBoxLayout(this);
  row->setContentsMargins(4, 2, 4, 2);
  row->setSpacing(4);
  edit_ = new QLineEdit(this);
  edit_->setPlaceholderText(tr("Find"));
  edit_->setToolTip(tr("Text to find, or hex bytes (7E FF) with Hex down; Enter finds the next"));
  hex_ = new QPushButton(tr("Hex"), this);
  hex_->setCheckable(true);
  hex_->setToolTip(tr("Find hex bytes as the view shows them instead of text"));
  auto *previous = new QPushButton(tr("Previous"), this);
  previous->setToolTip(tr("Find the previous match (Shift+F3)"));
  auto *next = new QPushButton(tr("Next"), this);
  next->setToolTip(tr("Find the next match (F3)"));
  auto *close = new QPushButton(tr("Close"), this);
  close->setToolTip(tr("Close the find bar (Escape)"));
  status_ = new QLabel(this);
  status_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000000 of 00000000…")));
  row->addWidget(edit_, 1);
  for (QPushButton *button : {hex_, previous, next, close}) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    row->addWidget(button);
  }
  row->insertWidget(4, status_);

  connect(edit_, &QLineEdit::textChanged, this, &PaneFindBar::patternChanged);
  connect(hex_, &QPushButton::toggled, this, &PaneFindBar::patternChanged);
  connect(previous, &QPushButton::clicked, this, [this] { findNext(false); });
  connect(next, &QPushButton::clicked, this, [this] { findNext(true); });
  connect(close, &QPushButton::clicked, this, &PaneFindBar::dismiss);
  slices_.setSingleShot(true);
  slices_.setInterval(0);
  connect(&slices_, &QTimer::timeout, this, &PaneFindBar::runSlices);
  // New text is counted as it comes.
  connect(pane, &DisplayPane::textChanged, this, [this] {
    if (isVisible() && !finder_.pattern().empty() && !slices_.isActive())
      slices_.start();
  });
  pane->installEventFilter(this);
  hide();
}

void PaneFindBar::open() {
  show();
  place();
  raise();
  edit_->setFocus(Qt::ShortcutFocusReason);
  edit_->selectAll();
  runSlices();
}

void PaneFindBar::dismiss() {
  hide();
  pane_->reserveTop(0);
  slices_.stop();
  finder_.cancel();
  pane_->setMark(-1, -1);
  shown_ = -1;
  pane_->setFocus(Qt::ShortcutFocusReason);
}

void PaneFindBar::setHexGroups(bool on) {
  hexGroups_ = on;
  // The bar looks for bytes where the view shows bytes; Hex can be let up.
  if (hex_->isChecked() != on)
    hex_->setChecked(on);  // a new pattern follows
  else
    patternChanged();
}

void PaneFindBar::patternChanged() {
  std::string typed;
  why_.clear();
  for (char32_t c : edit_->text().toUcs4()) {
    const int byte = paneByteFromGlyph(c);
    if (byte < 0)
      why_ = tr("'%1' is no character of the pane").arg(QString::fromUcs4(&c, 1));
    typed += static_cast<char>(byte);
  }
  std::string pattern, why;
  if (why_.isEmpty() && !paneFindPattern(typed, hex_->isChecked(), hexGroups_, &pattern, &why))
    why_ = QString::fromStdString(why);
  if (!why_.isEmpty())
    pattern.clear();
  // Typing goes on from the match, or from the top of the view.
  const std::int64_t match = finder_.matchStart();
  finder_.setPattern(std::move(pattern));
  finder_.find(match >= 0 ? match : pane_->firstVisiblePosition(), true);
  runSlices();
}

void PaneFindBar::findNext(bool forward) {
  if (!isVisible() || finder_.pattern().empty())
    return open();
  const std::int64_t match = finder_.matchStart();
  const std::int64_t from =
      match < 0 ? pane_->firstVisiblePosition() : forward ? match + 1 : match;
  finder_.find(from, forward);
  runSlices();
}

void PaneFindBar::runSlices() {
  if (!isVisible())
    return;
  QElapsedTimer clock;
  clock.start();
  bool more = true;
  while (more && clock.elapsed() < kRunMs)
    more = finder_.step(kSlicePlaces);
  showResult();
  if (more)
    slices_.start();
}

void PaneFindBar::showResult() {
  const std::int64_t start = finder_.matchStart();
  if (start >= 0) {
    pane_->setMark(start, finder_.matchEnd());
    const std::int64_t at = start + pane_->model().droppedTotal();
    if (at != shown_)
      pane_->ensureVisible(start);
    shown_ = at;
  } else if (finder_.result() != PaneFinder::Result::Searching) {
    pane_->setMark(-1, -1);
    shown_ = -1;
  }
  status_->setText(status());
}

QString PaneFindBar::status() const {
  if (!why_.isEmpty())
    return why_;
  if (finder_.pattern().empty())
    return {};
  const QString total =
      QString::number(finder_.count()) + (finder_.counted() ? QString() : QStringLiteral("…"));
  switch (finder_.result()) {
  case PaneFinder::Result::Searching:
    return tr("Searching…");
  case PaneFinder::Result::NotFound:
    return tr("No match");
  case PaneFinder::Result::Found:
    return finder_.ordinal() > 0 ? tr("%1 of %2").arg(finder_.ordinal()).arg(total)
                                 : tr("… of %1").arg(total);
  default:
    return finder_.count() == 1 && finder_.counted() ? tr("1 match") : tr("%1 matches").arg(total);
  }
}

bool PaneFindBar::takeKey(const QKeyEvent &key, bool terminalFocus) {
  if (terminalFocus || !pane_->isVisible())
    return false;
  const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
  if (key.key() == Qt::Key_F && modifiers == Qt::ControlModifier) {
    open();
    return true;
  }
  if (key.key() == Qt::Key_F3 && isVisible() &&
      (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
    findNext(modifiers == Qt::NoModifier);
    return true;
  }
  return false;
}

void PaneFindBar::keyPressEvent(QKeyEvent *event) {
  // Nothing typed here reaches the pane behind.
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  if (event->key() == Qt::Key_Escape)
    dismiss();
  else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
    findNext(!shift);
  event->accept();
}

bool PaneFindBar::eventFilter(QObject *watched, QEvent *event) {
  if (watched == pane_ && event->type() == QEvent::Resize)
    place();
  return QFrame::eventFilter(watched, event);
}

void PaneFindBar::place() {
  // A strip over the text, which keeps all its rows visible below it.
  if (isHidden())
    return;
  const int height = sizeHint().height();
  pane_->reserveTop(height);
  const QRect text = pane_->viewport()->geometry();
  setGeometry(text.left(), text.top() - height, text.width(), height);
}
