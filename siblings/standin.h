// The window every display-only stand-in shows: what the tool handed it
// through SysCfg.ini, a note that it is a stand-in, and "关闭".
// CARD_SHOT=<png> renders it, saves it and ends (screenshots).
#pragma once

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdlib>
#include <utility>
#include <vector>

inline int RunStandIn(QApplication& app, const QString& title, const std::vector<std::pair<QString, QString>>& rows,
                      const QString& note) {
  QWidget window;
  window.setWindowTitle(title);
  auto* form = new QFormLayout;
  for (const auto& [label, value] : rows) form->addRow(label, new QLabel(value));
  auto* close = new QPushButton(QStringLiteral(u"关闭"));
  QObject::connect(close, &QPushButton::clicked, &window, &QWidget::close);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(form);
  layout->addWidget(new QLabel(note));
  layout->addWidget(close);
  window.resize(360, 120 + 20 * static_cast<int>(rows.size()));
  window.show();
  if (const char* shot = std::getenv("CARD_SHOT"))
    QTimer::singleShot(100, &window, [&window, shot] { QApplication::exit(window.grab().save(shot) ? 0 : 1); });
  return app.exec();
}
