#include "ui/panel_segmented_picker.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>

namespace lumbrix {

SegmentedPicker::SegmentedPicker(const QStringList& options, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    group_->setExclusive(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Touching segments read as one control.
    layout->setSpacing(0);
    for (int i = 0; i < options.size(); ++i) {
        auto* segment = new QPushButton(options[i], this);
        segment->setCheckable(true);
        segment->setAutoDefault(false);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        group_->addButton(segment, i);
        layout->addWidget(segment);
    }
    // Fusion draws a checked push button barely darker than an unchecked one; the chosen
    // segment has to stand out at a glance.
    setStyleSheet(QStringLiteral(
        "QPushButton { background: #3a3a3c; color: #e8e8e8; border: 1px solid #202022; padding: 3px 6px; }"
        "QPushButton:hover:!checked { background: #4a4a4d; }"
        "QPushButton:checked { background: palette(highlight); color: palette(highlighted-text); }"
        "QPushButton:disabled { color: #7a7a7a; }"));
    // idClicked fires for the user's clicks only, never for setCurrentIndex.
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedPicker::activated);
}

int SegmentedPicker::currentIndex() const { return group_->checkedId(); }

void SegmentedPicker::setCurrentIndex(int index) {
    const QSignalBlocker blocker(group_);
    if (QAbstractButton* chosen = group_->button(index)) chosen->setChecked(true);
}

QAbstractButton* SegmentedPicker::button(int index) const { return group_->button(index); }

int SegmentedPicker::count() const { return static_cast<int>(group_->buttons().size()); }

}  // namespace lumbrix
