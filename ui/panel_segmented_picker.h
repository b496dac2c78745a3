#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_segmented_picker.h is internal to ui/"
#endif
// A segmented choice: a row of exclusive checkable buttons, one per option.
#include <QStringList>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;

namespace lumbrix {

class SegmentedPicker : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedPicker(const QStringList& options, QWidget* parent = nullptr);

    int currentIndex() const;
    // Shows `index` as chosen without emitting activated (a binding update, not a choice).
    void setCurrentIndex(int index);
    QAbstractButton* button(int index) const;
    int count() const;

signals:
    // The user chose the option at `index`.
    void activated(int index);

private:
    QButtonGroup* group_;
};

}  // namespace lumbrix
