#include "ui/ipv4_edit.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

namespace ui {
namespace {

const QString kOctet = QStringLiteral("(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?");

QString Normalised(const QString& text) {
  QStringList parts = text.split(QLatin1Char('.'));
  QStringList out;
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    int v = i < parts.size() ? parts[i].trimmed().toInt(&ok) : 0;
    out << QString::number(ok ? v : 0);
  }
  return out.join(QLatin1Char('.'));
}

}  // namespace

Ipv4Edit::Ipv4Edit(QWidget* parent) : QLineEdit(parent) {
  auto pattern = QStringLiteral("^%1(\\.%1(\\.%1(\\.%1)?)?)?$").arg(kOctet);
  setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), this));
  setPlaceholderText(QStringLiteral("0.0.0.0"));
}

QString Ipv4Edit::address() const {
  if (text().trimmed().isEmpty()) return QStringLiteral("0.0.0.0");
  return Normalised(text());
}

void Ipv4Edit::setAddress(const QString& text) {
  int pos = 0;
  QString copy = text.trimmed();
  if (copy.isEmpty() || validator()->validate(copy, pos) != QValidator::Acceptable) {
    clear();
    return;
  }
  setText(Normalised(copy));
}

}  // namespace ui
