// The icon the window shows and the icon files the packages install are one
// drawing: the SVG's shapes sit where the pixels are.
#include <gtest/gtest.h>

#include <QColor>
#include <QXmlStreamReader>

#include "ui/app_icon.h"

TEST(AppIcon, SvgIsTheSameDrawingAsThePixmaps) {
  const QByteArray svg = ui::AppIconSvg();
  const QImage image = ui::AppIconImage(64);
  ASSERT_EQ(image.size(), QSize(64, 64));

  QXmlStreamReader xml(svg);
  int leds = 0, lit = 0, boards = 0;
  while (xml.readNextStartElement()) {
    if (xml.name() == QLatin1String("svg")) {
      EXPECT_EQ(xml.attributes().value(QLatin1String("viewBox")), QLatin1String("0 0 64 64"));
      continue;  // into its children
    }
    const auto a = xml.attributes();
    const QColor fill(a.value(QLatin1String("fill")).toString());
    EXPECT_TRUE(fill.isValid()) << a.value(QLatin1String("fill")).toString().toStdString();
    if (xml.name() == QLatin1String("ellipse")) {
      ++leds;
      const QPoint centre(static_cast<int>(a.value(QLatin1String("cx")).toDouble()),
                          static_cast<int>(a.value(QLatin1String("cy")).toDouble()));
      EXPECT_EQ(image.pixelColor(centre), fill) << centre.x() << "," << centre.y();
      if (fill.red() > 200) ++lit;
    } else if (xml.name() == QLatin1String("rect")) {
      ++boards;
      // Between the LEDs the board shows.
      EXPECT_EQ(image.pixelColor(32, 32), fill);
    }
    xml.skipCurrentElement();
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(boards, 1);
  EXPECT_EQ(leds, 16);
  EXPECT_EQ(lit, 8);  // both diagonals
  // The rounded corner is transparent, as an icon on any background must be.
  EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
  EXPECT_EQ(ui::AppIconImage(22).size(), QSize(22, 22));
}
