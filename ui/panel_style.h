#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_style.h is internal to ui/"
#endif
// Text styles and value texts shared by the side panel and the transport bar, so both
// draw captions and numbers the same way.
#include <algorithm>
#include <iterator>

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace lumbrix {

// The small caption size; semibold for titles and sub-headings.
QFont captionFont(bool semibold = false);

// A caption label, optionally semibold.
QLabel* makeCaptionLabel(const QString& text, bool semibold, QWidget* parent = nullptr);

// A semibold caption sub-heading with its small top gap.
QWidget* makeSubheading(const QString& text, QWidget* parent = nullptr);

// Lets the push buttons under `root` shrink to their text when the panel is narrow;
// the style's usual 80-pixel minimum would push rows out of a 300-pixel panel.
void letButtonsShrink(QWidget* root);

// A whole number as "%lld" prints it: the value cut towards zero, not rounded, so the
// label never claims more than the field holds.
QString wholeNumberText(double value);

// The position of `value` in a picker's case list (-1 when absent), so pickers follow
// the list order rather than the enum's numbering.
template <typename Cases, typename Case>
int indexOfCase(const Cases& cases, Case value) {
    const auto found = std::find(std::begin(cases), std::end(cases), value);
    return found == std::end(cases) ? -1 : static_cast<int>(std::distance(std::begin(cases), found));
}

}  // namespace lumbrix
