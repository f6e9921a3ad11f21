// The table of the tool dialogs whose cells are edited in place: a
// double-click, or F2 or Enter on the current cell, lays a one-line editor
// over the cell; Enter or leaving the editor keeps the text, Escape throws it
// away; Tab, Shift+Tab and Ctrl+Tab keep the typed text and move to the next,
// previous or lower cell.
// Owners are not told about edits: they read the cells when they need them,
// after CommitEdit(), and call CancelEdit() before they refill them.
#pragma once

#include <QTableWidget>

class QLineEdit;

namespace ui {

class EditableList : public QTableWidget {
  Q_OBJECT
 public:
  EditableList(int rows, int columns, QWidget* parent = nullptr);

  QString cellText(int row, int column) const;
  void setCellText(int row, int column, const QString& text);

  // Edits the cell: scrolls it into view and lays the editor over it.
  void BeginEdit(int row, int column);
  // Writes a pending edit into its cell and ends it.
  void CommitEdit();
  // Ends a pending edit without writing it.
  void CancelEdit();
  bool editing() const;
  int editRow() const { return row_; }
  int editColumn() const { return column_; }
  QLineEdit* editor() const { return editor_; }

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // Handled after the current event, as the editor's end request is.
  void PostEndEdit(bool commit);
  void EndEdit(bool commit, bool keepVisible);
  void MoveByTab(Qt::KeyboardModifiers modifiers);
  void PlaceEditor();

  QLineEdit* editor_ = nullptr;
  int row_ = -1;
  int column_ = -1;
  bool commitOnEnd_ = true;
  unsigned edit_ = 0;  // counts edits begun
};

}  // namespace ui
