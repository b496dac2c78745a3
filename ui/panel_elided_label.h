#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_elided_label.h is internal to ui/"
#endif
// A one-line label for file and folder names: it keeps the whole text (and shows it as
// its tooltip) but draws it shortened in the middle when the panel is narrow, so the
// extension stays readable.
#include <QLabel>

namespace lumbrix {

class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The whole text; drawn elided as the width requires.
    void setFullText(const QString& text);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace lumbrix
