// Writes the files the packages carry that the tool itself draws or writes:
// the icon in the hicolor sizes and as SVG, and the default Modbus request
// table a new working folder starts with (30 empty requests, as the tool
// writes them).
//   package_files OUTDIR
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>

#include "modbus/master_table.h"
#include "ui/app_icon.h"

namespace {

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: package_files OUTDIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  bool ok = true;
  for (int size : kIconSizes) {
    const QString path = out + QStringLiteral("/icons/hicolor/%1x%1/apps/cardsetup.png").arg(size);
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    ok = ui::AppIconImage(size).save(path, "PNG") && ok;
  }
  ok = WriteFile(out + QStringLiteral("/icons/hicolor/scalable/apps/cardsetup.svg"), ui::AppIconSvg()) && ok;

  card::modbus::EntryTable empty;
  empty.fill(card::modbus::RequestEntry::Empty());
  QDir().mkpath(out + QStringLiteral("/defaults"));
  ok = card::modbus::WriteTableFile((out + QStringLiteral("/defaults/") + card::modbus::kTableFileName).toStdString(),
                                    card::modbus::ToRecords(empty)) &&
       ok;
  if (!ok) std::fprintf(stderr, "package_files: cannot write below %s\n", argv[1]);
  return ok ? 0 : 1;
}
