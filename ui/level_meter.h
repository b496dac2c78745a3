#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/level_meter.h is internal to ui/"
#endif
// A horizontal bar for an audio level from 0 to 1.
#include <QWidget>

namespace lumbrix {

class LevelMeter : public QWidget {
    Q_OBJECT

public:
    explicit LevelMeter(QWidget* parent = nullptr);

    float level() const { return level_; }
    // Values outside 0…1 (and NaN) are drawn as the nearest end of the bar.
    void setLevel(float level);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float level_ = 0.0f;
};

}  // namespace lumbrix
