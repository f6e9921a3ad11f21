// An IPv4 address field: four numbers 0..255 separated by dots. Like the
// platform's address control, an empty field reads "0.0.0.0" and a field
// with missing numbers reads them as 0.
#pragma once

#include <QLineEdit>

namespace ui {

class Ipv4Edit : public QLineEdit {
  Q_OBJECT
 public:
  explicit Ipv4Edit(QWidget* parent = nullptr);

  // The address as dotted text, always four numbers.
  QString address() const;
  // Shows text when it is an address (missing numbers count as 0); anything
  // else empties the field.
  void setAddress(const QString& text);
  void clearAddress() { clear(); }
};

}  // namespace ui
