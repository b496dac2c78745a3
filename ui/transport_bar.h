#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/transport_bar.h is internal to ui/"
#endif
// The strip under the 3D view: play/pause, loop, what is playing, and the scrub slider
// with elapsed and remaining time. It keeps no state of its own: everything it shows
// and changes is the view model's.
#include <QString>
#include <QWidget>

class QCheckBox;
class QGraphicsOpacityEffect;
class QLabel;
class QPushButton;
class QSlider;

namespace lumbrix {

class ViewerViewModel;
enum class SourceMode;

// "mm:ss" of whole seconds, halves rounded away from zero, negatives as 0; minutes are
// not folded into hours (3725 s is "62:05"). A value that is not finite reads "--:--".
QString transportTimeText(double seconds);

// Whether the transport offers a timeline: only a video file longer than 0.01 s.
bool transportCanScrub(SourceMode mode, double durationSeconds);

class TransportBar : public QWidget {
    Q_OBJECT

public:
    explicit TransportBar(ViewerViewModel& viewModel, QWidget* parent = nullptr);
    ~TransportBar() override;

    // The slider counts milliseconds: QSlider works in whole numbers.
    static constexpr double kSliderUnitsPerSecond = 1000.0;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void refreshStatus();
    bool canScrub() const;
    void sliderPressed();
    void sliderValueChanged(int position);
    void sliderReleased();

    ViewerViewModel& vm_;
    QPushButton* playButton_;
    QCheckBox* loopSwitch_;
    QLabel* status_;
    QWidget* scrubRow_;
    QGraphicsOpacityEffect* scrubOpacity_;
    QLabel* elapsed_;
    QSlider* slider_;
    QLabel* remaining_;
};

}  // namespace lumbrix
