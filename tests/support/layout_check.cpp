#include "support/layout_check.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSizeGrip>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTableView>

namespace testing_support {
namespace {

QString Plain(QString text) {
  // "&A" shows as "A"; "&&" as "&".
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
  return text;
}

std::string Describe(QWidget* w) {
  QString text;
  if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
  else if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
  else if (auto* g = qobject_cast<QGroupBox*>(w)) text = g->title();
  else if (auto* c = qobject_cast<QComboBox*>(w)) text = c->currentText();
  if (text.isEmpty()) text = w->accessibleName();
  QString out = QString::fromLatin1(w->metaObject()->className());
  if (!text.isEmpty()) out += QStringLiteral(" \"") + text.left(60) + QStringLiteral("\"");
  return out.toStdString();
}

std::string Size(const QSize& s) { return std::to_string(s.width()) + "x" + std::to_string(s.height()); }

// Controls whose children are their own business: their parts are not
// checked one by one.
bool IsLeaf(QWidget* w) {
  return qobject_cast<QAbstractScrollArea*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
         qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QProgressBar*>(w);
}

void CheckText(QWidget* w, std::vector<std::string>* out) {
  const QFontMetrics fm = w->fontMetrics();
  if (auto* l = qobject_cast<QLabel*>(w)) {
    if (l->text().isEmpty() || l->wordWrap()) return;
    const QSize hint = l->sizeHint();
    if (l->width() < hint.width() || l->height() < hint.height())
      out->push_back(Describe(w) + ": text clipped, " + Size(l->size()) + " for " + Size(hint));
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    if (b->text().isEmpty()) return;
    const QSize hint = b->sizeHint();
    // A push button's hint holds a minimum width of the style's; there only
    // the text and the button's margins have to fit. A check box needs its
    // whole hint (indicator, spacing, text).
    int need = hint.width();
    if (qobject_cast<QPushButton*>(w))
      need = std::min(need, fm.horizontalAdvance(Plain(b->text())) + 2 * w->style()->pixelMetric(QStyle::PM_ButtonMargin));
    // Its height only has to hold a line of text: styles pad buttons
    // differently, and Qt's own dialogs set their buttons' heights.
    if (b->width() < need || b->height() < fm.height())
      out->push_back(Describe(w) + ": text clipped, " + Size(b->size()) + " for " + Size(hint));
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    if (g->title().isEmpty()) return;
    const int need = fm.horizontalAdvance(Plain(g->title()) + QLatin1Char(' '));
    if (g->width() < need) out->push_back(Describe(w) + ": title clipped, " + std::to_string(g->width()) + " wide for " + std::to_string(need));
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    if (c->currentText().isEmpty()) return;
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    opt.editable = c->isEditable();
    opt.frame = c->hasFrame();
    opt.currentText = c->currentText();
    opt.subControls = QStyle::SC_All;
    const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
    const int need = fm.horizontalAdvance(c->currentText());
    if (field.width() < need)
      out->push_back(Describe(w) + ": shown item clipped, " + std::to_string(field.width()) + " wide for " + std::to_string(need));
  }
}

void CheckHeader(QHeaderView* h, const std::string& owner, std::vector<std::string>* out) {
  if (!h || h->isHidden() || !h->model()) return;
  const QFontMetrics fm = h->fontMetrics();
  const int margin = 2 * h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
  // A header that wraps needs room for its longest word, and the header the
  // height of its wrapped lines; else for its longest line.
  const bool wraps = (h->defaultAlignment().toInt() & Qt::TextWordWrap) != 0;
  for (int i = 0; i < h->count(); ++i) {
    if (h->isSectionHidden(i)) continue;
    const QString text = h->model()->headerData(i, h->orientation(), Qt::DisplayRole).toString();
    if (text.isEmpty()) continue;
    int need = 0;
    for (const QString& part : text.split(wraps ? QRegularExpression(QStringLiteral("\\s+")) : QRegularExpression(QStringLiteral("\n")),
                                          Qt::SkipEmptyParts))
      need = std::max(need, fm.horizontalAdvance(part));
    need += margin;
    const int have = h->orientation() == Qt::Horizontal ? h->sectionSize(i) : h->width();
    if (have < need)
      out->push_back(owner + ": header \"" + text.toStdString() + "\" clipped, " + std::to_string(have) +
                     " wide for " + std::to_string(need));
    else if (wraps && h->orientation() == Qt::Horizontal) {
      const int lines = fm.boundingRect(QRect(0, 0, have - margin, 100000), Qt::TextWordWrap, text).height();
      if (h->height() < lines)
        out->push_back(owner + ": header \"" + text.toStdString() + "\" cut off, " + std::to_string(h->height()) +
                       " high for " + std::to_string(lines));
    }
  }
}

void Walk(QWidget* w, QWidget* window, std::vector<std::string>* out) {
  CheckText(w, out);
  if (auto* view = qobject_cast<QTableView*>(w)) {
    CheckHeader(view->horizontalHeader(), Describe(w), out);
    CheckHeader(view->verticalHeader(), Describe(w), out);
  }
  if (IsLeaf(w)) return;
  std::vector<QWidget*> shown;
  for (QObject* o : w->children()) {
    auto* c = qobject_cast<QWidget*>(o);
    // A size grip sits over the corner by design.
    if (!c || c->isWindow() || !c->isVisibleTo(window) || c->size().isEmpty() || qobject_cast<QSizeGrip*>(c)) continue;
    shown.push_back(c);
  }
  const QRect inside(QPoint(0, 0), w->size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    QWidget* c = shown[i];
    if (!inside.contains(c->geometry()))
      out->push_back(Describe(c) + ": leaves " + Describe(w) + " (" + Size(c->size()) + " at " +
                     std::to_string(c->x()) + "," + std::to_string(c->y()) + " in " + Size(w->size()) + ")");
    for (std::size_t j = i + 1; j < shown.size(); ++j)
      if (c->geometry().intersects(shown[j]->geometry()))
        out->push_back(Describe(c) + " overlaps " + Describe(shown[j]));
    Walk(c, window, out);
  }
}

bool HasChinese(const QString& text) {
  for (QChar c : text)
    if ((c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff) || (c.unicode() >= 0x3000 && c.unicode() <= 0x303f) ||
        (c.unicode() >= 0xff00 && c.unicode() <= 0xffef))
      return true;
  return false;
}

}  // namespace

std::vector<std::string> ChineseTexts(QWidget* window) {
  std::vector<std::string> out;
  auto note = [&](QWidget* w, const char* what, const QString& text) {
    if (HasChinese(text)) out.push_back(Describe(w) + " " + what + ": \"" + text.toStdString() + "\"");
  };
  QList<QWidget*> all = window->findChildren<QWidget*>();
  all.prepend(window);
  for (QWidget* w : all) {
    if (!w->isVisibleTo(window) && w != window) continue;
    note(w, "title", w->windowTitle());
    note(w, "accessible name", w->accessibleName());
    note(w, "tool tip", w->toolTip());
    if (auto* l = qobject_cast<QLabel*>(w)) note(w, "text", l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) note(w, "text", b->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) note(w, "title", g->title());
    if (auto* e = qobject_cast<QLineEdit*>(w)) note(w, "placeholder", e->placeholderText());
    if (auto* p = qobject_cast<QProgressBar*>(w)) note(w, "text", p->text());
    if (auto* c = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < c->count(); ++i) note(w, "item", c->itemText(i));
    if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model()) {
      const QAbstractItemModel* m = v->model();
      for (int c = 0; c < m->columnCount(); ++c) note(w, "header", m->headerData(c, Qt::Horizontal).toString());
      for (int r = 0; r < m->rowCount(); ++r)
        for (int c = 0; c < m->columnCount(); ++c) note(w, "cell", m->index(r, c).data().toString());
    }
  }
  return out;
}

std::vector<std::string> LayoutProblems(QWidget* window) {
  std::vector<std::string> out;
  if (QScreen* screen = window->screen()) {
    const QSize room = screen->availableGeometry().size();
    if (window->width() > room.width() || window->height() > room.height())
      out.push_back(Describe(window) + ": " + Size(window->size()) + " does not fit the screen's " + Size(room));
  }
  Walk(window, window, &out);
  return out;
}

}  // namespace testing_support
