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

// Every text of the window a user or assistive technology meets that holds
// Chinese: titles, labels, buttons, group titles, list items, table headers
// and cells, accessible names, tool tips (for a run in another language).
std::vector<std::string> ChineseTexts(QWidget* window);

}  // namespace testing_support
