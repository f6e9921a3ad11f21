// The person in front of the sign during recognition: answers the wizard's
// questions about the observation area (the first module, top right) from
// the picture cardsim writes as panel.pgm, and from nothing else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A grey picture, one byte per dot, 0 dark.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> grey;
  bool lit(int x, int y) const;
};

// A binary PGM (P5, maxval 255); nothing when the bytes are no such picture.
std::optional<Picture> ParsePgm(const std::string& bytes);
std::optional<Picture> LoadPgm(const std::string& path);

class PanelObserver {
 public:
  explicit PanelObserver(Picture now) : now_(std::move(now)) {}

  // "观察区域是否全亮": every dot lit.
  bool WholeAreaLit() const;
  // "观察区亮度比之前是否变亮": the lit dots shine brighter than in before
  // (the picture the person was told to remember).
  bool BrighterThan(const Picture& before) const;
  // "观察区域亮起的点数".
  int PointsLit() const;
  // "观察区是否亮起 [ n ] 个点且在一条直线": exactly n dots, next to each
  // other in one row or one column.
  bool PointsInOneLine(int n) const;
  // "观察区亮起的线条个数": the rows that hold lit dots when each of them is
  // one unbroken horizontal run; -1 when what is lit is not such lines.
  int LineCount() const;
  // "观察区域是否有出现正方形": the lit dots are exactly the outline of a
  // square of at least 3 x 3 dots.
  bool SquareShown() const;

 private:
  Picture now_;
};

}  // namespace testing_support
