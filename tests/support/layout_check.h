// The layout check: a window whose controls fit their texts. Walks every
// visible widget and names each that
//  - shows a text it is too small for (narrower or lower than its size hint
//    where it cannot wrap: labels without word wrap, buttons, check boxes,
//    group box titles, table and list header sections),
//  - overlaps a visible sibling, or
//  - leaves its parent (a scrolled area's contents excepted),
// and a window larger than the screen it is on.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

namespace testing_support {

std::vector<std::string> LayoutProblems(QWidget* window);

}  // namespace testing_support
