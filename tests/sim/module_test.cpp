// The virtual module: the right settings show a pattern as drawn, each kind
// of wrong setting changes what a person sees in the way the recognition
// wizard relies on, and the wizard's questions, answered from panel.pgm,
// lead it to the module's real wiring.
#include "module.h"

#include <gtest/gtest.h>

#include "card.h"
#include "platform/text.h"
#include "support/panel_observer.h"
#include "vectors/record_vectors.h"

namespace {

using testing_support::PanelObserver;
using testing_support::Picture;

sim::ModuleWiring Wiring(const char* wiring) {
  std::optional<sim::ModuleWiring> m;
  std::string error;
  EXPECT_TRUE(sim::ParseModule(wiring, &m, &error)) << wiring << ": " << error;
  return m.value_or(sim::ModuleWiring{});
}

// The card set up exactly for module m, its screen one module.
sim::Drive RightDrive(const sim::ModuleWiring& m) {
  return {m.width, m.height, m.width, m.height, m.scan, m.foldRows, m.foldWidth, m.snake,
          m.dataLevel, m.oeLevel, m.chip, 15};
}

Picture Seen(const sim::Framebuffer& screen, const sim::Drive& d, const std::optional<sim::ModuleWiring>& m) {
  return testing_support::ParsePgm(sim::ShowOnModule(screen, d, m).Pgm()).value();
}

sim::Framebuffer Square(const sim::ModuleWiring& m) {
  sim::Framebuffer fb;
  fb.Resize(m.width, m.height);
  fb.Rect(1, 1, 14, 14);
  return fb;
}

const char* const kModules[] = {
    "32x16:scan=4:fold-rows=4:fold-width=8",                             // P10, one data line
    "32x16:scan=8:fold-rows=2:fold-width=16:snake=1:data=1:oe=1:chip=2",  // reversed snake, "负" levels
    "64x32:scan=16:data=1:chip=5",                                       // two bands, no fold
};

TEST(Module, OptionTextDescribesTheWiringOrIsRefused) {
  auto m = Wiring("32x16:chip=3:scan=4:fold-rows=4:fold-width=8:snake=1:data=1:oe=1");
  EXPECT_EQ(m.width, 32);
  EXPECT_EQ(m.height, 16);
  EXPECT_EQ(m.scan, 4);
  EXPECT_EQ(m.foldRows, 4);
  EXPECT_EQ(m.foldWidth, 8);
  EXPECT_EQ(m.snake + m.dataLevel + m.oeLevel, 3);
  EXPECT_EQ(m.chip, 3);
  auto plain = Wiring("64x32:fold-rows=2");
  EXPECT_EQ(plain.scan, 16) << "one data line unless the scan says otherwise";
  EXPECT_EQ(plain.foldWidth, 64);
  std::optional<sim::ModuleWiring> none = sim::ModuleWiring{};
  std::string error;
  EXPECT_TRUE(sim::ParseModule("none", &none, &error));
  EXPECT_FALSE(none.has_value());
  for (const char* bad : {"32", "x16", "32x16:scan=5", "32x16:fold-width=12", "32x16:fold-width=64", "32x16:oe=2",
                          "32x16:chip=24", "32x16:colour=1", "32x16:scan"})
    EXPECT_FALSE(sim::ParseModule(bad, &none, &error)) << bad;
}

TEST(Module, TheRecordSaysHowTheCardDrivesItsPort) {
  auto bytes = vectors::GoldenRecord();
  sim::CardRecord r;
  ASSERT_TRUE(r.assign(std::string(bytes.begin(), bytes.end())));
  sim::Drive d = sim::DriveFromRecord(r);
  EXPECT_EQ(d.screenWidth, 320);
  EXPECT_EQ(d.moduleWidth * 100 + d.moduleHeight, 3216);
  EXPECT_EQ(d.scan * 1000 + d.foldRows * 100 + d.foldWidth * 10 + d.snake, 4481);
  EXPECT_EQ(d.chip, 5);
  EXPECT_EQ(d.dataLevel * 10 + d.oeLevel, 10) << "firmware 39 takes the levels from offsets 24 and 25";
  r.put16(vectors::FieldNamed("firmware version").offset, 35);
  r.put16(0, 0x8110);  // OE bit set ("正"), data bit clear ("负")
  d = sim::DriveFromRecord(r);
  EXPECT_EQ(d.dataLevel * 10 + d.oeLevel, 10) << "older firmware takes them from the code word";
  r.put16(0, 0x8001);
  d = sim::DriveFromRecord(r);
  EXPECT_EQ(d.dataLevel * 10 + d.oeLevel, 1);
  r.put8(vectors::FieldNamed("module width").offset, 0);
  r.put8(vectors::FieldNamed("module height").offset, 0);
  EXPECT_EQ(sim::DriveFromRecord(r).moduleWidth * 100 + sim::DriveFromRecord(r).moduleHeight, 6432);
}

TEST(Module, RightSettingsShowThePatternAsDrawn) {
  for (const char* wiring : kModules) {
    const auto m = Wiring(wiring);
    sim::Framebuffer fb;
    fb.Resize(m.width, m.height);
    fb.Rect(1, 1, 14, 14);
    fb.Line(0, m.height - 1, m.width - 1, 0);
    fb.Point(m.width - 1, m.height - 1);
    const Picture seen = Seen(fb, RightDrive(m), m);
    ASSERT_EQ(seen.width * 1000 + seen.height, m.width * 1000 + m.height) << wiring;
    for (int y = 0; y < m.height; ++y)
      for (int x = 0; x < m.width; ++x) ASSERT_EQ(seen.lit(x, y), fb.Lit(x, y)) << wiring << " at " << x << "," << y;
  }
  // A screen of four modules: the first module, top right, shows the right-most quarter.
  const auto p10 = Wiring(kModules[0]);
  sim::Drive wide = RightDrive(p10);
  wide.screenWidth = 128;
  sim::Framebuffer fb;
  fb.Resize(128, 16);
  fb.Line(100, 5, 127, 5);
  fb.Point(10, 5);
  const Picture seen = Seen(fb, wide, p10);
  EXPECT_EQ(PanelObserver(seen).PointsLit(), 28);
  EXPECT_TRUE(seen.lit(4, 5) && seen.lit(31, 5));
}

TEST(Module, EachWrongSettingChangesWhatThePersonSeesTheWayTheWizardExpects) {
  const auto m = Wiring(kModules[0]);
  const sim::Drive right = RightDrive(m);
  sim::Framebuffer blank;
  blank.Resize(m.width, m.height);
  ASSERT_TRUE(PanelObserver(Seen(Square(m), right, m)).SquareShown());
  EXPECT_EQ(PanelObserver(Seen(blank, right, m)).PointsLit(), 0);

  sim::Drive d = right;
  d.dataLevel = 1;
  EXPECT_TRUE(PanelObserver(Seen(blank, d, m)).WholeAreaLit()) << "a cleared screen lights up inverted";
  EXPECT_EQ(PanelObserver(Seen(Square(m), d, m)).PointsLit(), 32 * 16 - 52);

  // Brighter with the right OE polarity, darker with the wrong one.
  for (int oe : {0, 1}) {
    d = right;
    d.oeLevel = oe;
    d.brightness = 2;
    const Picture dim = Seen(Square(m), d, m);
    d.brightness = 19;
    EXPECT_EQ(PanelObserver(Seen(Square(m), d, m)).BrighterThan(dim), oe == m.oeLevel) << "oe " << oe;
  }

  d = right;
  d.chip = 1;
  d.dataLevel = 1;
  EXPECT_EQ(PanelObserver(Seen(blank, d, m)).PointsLit(), 0) << "another chip shows nothing, inverted or not";
  EXPECT_EQ(PanelObserver(Seen(blank, d, std::nullopt)).PointsLit(), 0) << "nor does an empty port";

  // More address lines than the module has: row 5 lands on the module's row 1.
  d = right;
  d.scan = 32;
  sim::Framebuffer row5;
  row5.Resize(m.width, m.height);
  row5.Line(0, 5, m.width - 1, 5);
  const Picture aliased = Seen(row5, d, m);
  EXPECT_EQ(PanelObserver(aliased).LineCount(), 1);
  EXPECT_TRUE(aliased.lit(0, 1) && aliased.lit(m.width - 1, 1));

  struct Wrong {
    const char* what;
    int sim::Drive::*setting;
    int value;
  };
  for (const Wrong& w : {Wrong{"scan", &sim::Drive::scan, 32}, Wrong{"scan", &sim::Drive::scan, 2},
                         Wrong{"fold rows", &sim::Drive::foldRows, 1}, Wrong{"fold rows", &sim::Drive::foldRows, 2},
                         Wrong{"fold width", &sim::Drive::foldWidth, 32}, Wrong{"fold width", &sim::Drive::foldWidth, 4},
                         Wrong{"snake", &sim::Drive::snake, 1}}) {
    d = right;
    d.*w.setting = w.value;
    EXPECT_FALSE(PanelObserver(Seen(Square(m), d, m)).SquareShown()) << w.what << " " << w.value;
  }
}

TEST(PanelObserver, ReadsThePictureAndJudgesLikeAPerson) {
  auto picture = [](std::string rows) {  // '#' lit, '.' dark, each row ended by '/'
    std::string grey;
    int width = static_cast<int>(rows.find('/')), height = 0;
    for (char c : rows) {
      if (c == '/') ++height;
      else grey.push_back(c == '#' ? '\x80' : '\0');
    }
    return testing_support::ParsePgm(platform::Format("P5\n# panel\n%d %d\n255\n", width, height) + grey).value();
  };
  EXPECT_FALSE(testing_support::ParsePgm("P5\n3 2\n255\n\x01\x02"));
  EXPECT_FALSE(testing_support::ParsePgm("P2\n1 1\n255\n1"));
  EXPECT_TRUE(PanelObserver(picture("...../.###./...../")).PointsInOneLine(3));
  EXPECT_FALSE(PanelObserver(picture("...../.#.##/...../")).PointsInOneLine(3)) << "a gap";
  EXPECT_FALSE(PanelObserver(picture("#..../.#.../..#../")).PointsInOneLine(3)) << "a diagonal";
  EXPECT_TRUE(PanelObserver(picture("..#../..#../..#../")).PointsInOneLine(3));
  EXPECT_EQ(PanelObserver(picture("#####/...../#####/")).LineCount(), 2);
  EXPECT_EQ(PanelObserver(picture("##.##/...../#####/")).LineCount(), -1) << "a broken line";
  EXPECT_TRUE(PanelObserver(picture("###../#.#../###../")).SquareShown());
  EXPECT_FALSE(PanelObserver(picture("###../###../###../")).SquareShown()) << "filled";
  EXPECT_FALSE(PanelObserver(picture("####./#..#./####./")).SquareShown()) << "not square";
  EXPECT_TRUE(PanelObserver(picture("###/###/")).WholeAreaLit());
  EXPECT_FALSE(PanelObserver(picture("###/#.#/")).WholeAreaLit());
}

// Drives a card through the recognition wizard's lines and answers its
// questions from panel.pgm, as the person in front of the module would.
struct Recognition {
  sim::Card card;
  sim::Session session;
  sim::CommandStream stream{[this](sim::Command&& c) { card.Execute(c, session, 0); }};
  int width, height, chip;
  int data = 0, oe = 1, foldRows = 1, foldWidth, scan = 32, snake = 0;

  Recognition(const sim::ModuleWiring& m, int chipEntered)
      : card(0, 0x7F00000A, Options(m), ""), width(m.width), height(m.height), chip(chipEntered), foldWidth(m.width) {}
  static sim::CardOptions Options(const sim::ModuleWiring& m) {
    sim::CardOptions o;
    o.moduleGiven = true;
    o.module = m;
    return o;
  }
  void Send(const std::string& text) { stream.Feed(text); }
  PanelObserver Look() const { return PanelObserver(testing_support::ParsePgm(card.panel().Pgm()).value()); }
  void Push() {
    Send(platform::Format("set ledpara  %d %d %d %d %d %d %d %d %d %d %d %d %d \n", width, height, 16,
                          foldWidth & 0xFF, foldRows, scan, snake, 0, 0, chip, 0, oe, data));
  }

  // False when the wizard gives up with the cable message.
  bool Run() {
    Send(std::string(vectors::line::kRecognition));
    Send("set chrct machine 88ff \n");
    Push();
    Send(platform::Format("set ld 2\n set soft  %d %d  \n", width, height));
    Send(std::string(vectors::line::kClear));
    for (;;) {
      if (!Look().WholeAreaLit()) {
        if (data == 1) return false;
        data = 1;
        Push();
        Send(std::string(vectors::line::kClear));
        continue;
      }
      const Picture before = testing_support::ParsePgm(card.panel().Pgm()).value();
      Send("set ld 19 \n");
      if (!Look().BrighterThan(before)) {
        oe = 0;
        Push();
      }
      data ^= 1;
      Push();
      break;
    }
    Send(std::string(vectors::line::kPoint));
    const int points = Look().PointsLit();
    if (points == 2 || points == 4 || points == 8) foldRows = points;
    Send(platform::Format("set soft %d %d  \n", width * foldRows, height));
    int j = 1;
    for (const int n = width * foldRows; j < n; ++j) {
      Send(platform::Format("led clearall\n  led l 6  %d 0 %d  0 \n", 0, j));
      if (!Look().PointsInOneLine(j + 1)) break;
    }
    foldWidth = j;
    Push();
    Send(platform::Format("set soft %d %d  \n", width, height));
    Send("led clearall \n");
    int i = 0;
    for (; i < height; ++i) {
      Send(platform::Format(i == 0 ? "led clearall \n led l 6 0 %d %d %d \n" : "led l 6 0 %d %d %d \n", i, width - 1, i));
      if (Look().LineCount() != i + 1) break;
    }
    scan = i;
    Push();
    Send(std::string(vectors::line::kSquare));
    if (!Look().SquareShown()) {
      snake ^= 1;
      Push();
      Send(std::string(vectors::line::kClear));
      Send(std::string(vectors::line::kSquare));
      EXPECT_TRUE(Look().SquareShown()) << "a square with the other snake direction";
    }
    return true;
  }
};

TEST(Module, AnsweringTheWizardFromThePanelFindsTheRealWiring) {
  for (const char* wiring : kModules) {
    const auto m = Wiring(wiring);
    Recognition r(m, m.chip);
    ASSERT_TRUE(r.Run()) << wiring;
    EXPECT_EQ(r.data, m.dataLevel) << wiring;
    EXPECT_EQ(r.oe, m.oeLevel) << wiring;
    EXPECT_EQ(r.foldRows, m.foldRows) << wiring;
    EXPECT_EQ(r.foldWidth, m.foldRows > 1 ? m.foldWidth : m.width) << wiring;
    EXPECT_EQ(r.scan, m.scan) << wiring;
    EXPECT_EQ(r.snake, m.foldRows > 1 ? m.snake : 0) << wiring;
    EXPECT_EQ(r.card.panel().Lit(), 52) << wiring;
  }
  // The wrong chip entered: nothing ever lights, and the wizard gives up.
  const auto p10 = Wiring(kModules[0]);
  Recognition wrongChip(p10, 7);
  EXPECT_FALSE(wrongChip.Run());
  EXPECT_EQ(wrongChip.data, 1);
}

}  // namespace
