#include "ui/editable_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

namespace ui {

EditableList::EditableList(int rows, int columns, QWidget* parent) : QTableWidget(rows, columns, parent) {
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setShowGrid(true);
  verticalHeader()->hide();
  // A press on the header ends the edit, keeping what was typed.
  connect(horizontalHeader(), &QHeaderView::sectionPressed, this, [this] {
    if (editing()) EndEdit(true, false);
  });
}

QString EditableList::cellText(int row, int column) const {
  const QTableWidgetItem* it = item(row, column);
  return it ? it->text() : QString();
}

void EditableList::setCellText(int row, int column, const QString& text) {
  if (QTableWidgetItem* it = item(row, column))
    it->setText(text);
  else
    setItem(row, column, new QTableWidgetItem(text));
}

bool EditableList::editing() const { return editor_ && editor_->isVisible() && row_ >= 0; }

void EditableList::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  // Below the last row there is nothing to edit.
  if (index.isValid()) BeginEdit(index.row(), index.column());
  QTableWidget::mouseDoubleClickEvent(event);
}

void EditableList::keyPressEvent(QKeyEvent* event) {
  // From the keyboard as well as by double-click: F2 or Enter edits the
  // current cell (arrow keys choose it).
  const int key = event->key();
  const QModelIndex current = currentIndex();
  if (!editing() && current.isValid() && event->modifiers() == Qt::NoModifier &&
      (key == Qt::Key_F2 || key == Qt::Key_Return || key == Qt::Key_Enter)) {
    BeginEdit(current.row(), current.column());
    event->accept();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

void EditableList::BeginEdit(int row, int column) {
  if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return;
  if (!editor_) {
    editor_ = new QLineEdit(viewport());
    editor_->setFrame(true);
    editor_->hide();
    editor_->installEventFilter(this);
  }
  row_ = row;
  column_ = column;
  ++edit_;
  // A Tab target may lie outside the view of a long list.
  scrollTo(model()->index(row, column));
  editor_->setText(cellText(row, column));
  PlaceEditor();
  editor_->show();
  editor_->setFocus(Qt::OtherFocusReason);
  editor_->end(false);
}

void EditableList::PlaceEditor() {
  if (!editor_ || row_ < 0) return;
  editor_->setGeometry(visualRect(model()->index(row_, column_)));
}

void EditableList::scrollContentsBy(int dx, int dy) {
  QTableWidget::scrollContentsBy(dx, dy);
  if (editing()) PlaceEditor();
}

void EditableList::PostEndEdit(bool commit) {
  // A request that arrives after another edit has begun belongs to the old one.
  QMetaObject::invokeMethod(this, [this, commit, edit = edit_] {
    if (edit == edit_) EndEdit(commit, false);
  }, Qt::QueuedConnection);
}

void EditableList::EndEdit(bool commit, bool keepVisible) {
  // A second request for the same edit (Enter, then the focus loss that
  // hiding the editor causes) finds nothing left to do.
  if (!editor_ || row_ < 0) return;
  if (commit) setCellText(row_, column_, editor_->text());
  if (!keepVisible) {
    // The keyboard stays on the cell it edited, to move on from there. The
    // list takes the focus before the editor goes: a focused editor that
    // hides hands the focus on as a Tab would, one cell further.
    if (editor_->hasFocus()) {
      setCurrentIndex(model()->index(row_, column_));
      setFocus(Qt::OtherFocusReason);
    }
    row_ = column_ = -1;
    editor_->hide();
  }
}

void EditableList::CommitEdit() { EndEdit(true, false); }

void EditableList::CancelEdit() {
  commitOnEnd_ = false;
  EndEdit(false, false);
}

void EditableList::MoveByTab(Qt::KeyboardModifiers modifiers) {
  EndEdit(true, true);
  const int rows = rowCount(), columns = columnCount();
  int r = row_, c = column_;
  if (modifiers & Qt::ControlModifier) {
    r = r + 1 < rows ? r + 1 : 0;
  } else if (modifiers & Qt::ShiftModifier) {
    if (c > 0) {
      --c;
    } else {
      c = columns - 1;
      r = r > 0 ? r - 1 : rows - 1;
    }
  } else if (c + 1 < columns) {
    ++c;
  } else {
    c = 0;
    r = r + 1 < rows ? r + 1 : 0;
  }
  BeginEdit(r, c);
  clearSelection();
  selectRow(r);
}

bool EditableList::eventFilter(QObject* watched, QEvent* event) {
  if (watched != editor_) return QTableWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
          commitOnEnd_ = true;
          PostEndEdit(true);
          return true;
        case Qt::Key_Escape:
          commitOnEnd_ = false;
          PostEndEdit(false);
          return true;
        case Qt::Key_Tab:
          MoveByTab(key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
          return true;
        case Qt::Key_Backtab:
          MoveByTab(Qt::ShiftModifier);
          return true;
        default:
          break;
      }
      break;
    }
    case QEvent::ShortcutOverride: {
      // Enter and Escape belong to the editor, not to the dialog's buttons.
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        event->accept();
        return true;
      }
      break;
    }
    case QEvent::FocusIn:
      commitOnEnd_ = true;
      break;
    case QEvent::FocusOut:
      if (editor_->isVisible()) PostEndEdit(commitOnEnd_);
      break;
    default:
      break;
  }
  return QTableWidget::eventFilter(watched, event);
}

}  // namespace ui
