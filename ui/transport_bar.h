#pragma once
// The strip under the 3D view: play/pause, loop, what is playing, and the scrub slider
// with elapsed and remaining time.
#include <QWidget>

namespace lumbrix {

class ViewerViewModel;

class TransportBar : public QWidget {
    Q_OBJECT

public:
    explicit TransportBar(ViewerViewModel& viewModel, QWidget* parent = nullptr);
    ~TransportBar() override;
};

}  // namespace lumbrix
