#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_source_section.h is internal to ui/"
#endif
// The SOURCE section's content: the mode picker and the controls of the chosen mode
// (NDI senders, video file, image).
#include <QWidget>

#include "sources/ndi_receiver.h"
#include "viewer/viewer_view_model.h"

class QComboBox;
class QLabel;

namespace lumbrix {

class ElidedLabel;
class SegmentedPicker;

class PanelSourceSection : public QWidget {
    Q_OBJECT

public:
    explicit PanelSourceSection(ViewerViewModel& viewModel, QWidget* parent = nullptr);

private:
    void refresh(ViewerViewModel::Field field);
    void refreshMode();
    void refreshReceiver();
    void refreshFiles();
    void chooseSender(int entry);
    void editExtraIPs();

    ViewerViewModel& vm_;
    SegmentedPicker* modePicker_;
    QWidget* ndiPage_;
    QWidget* filePage_;
    QWidget* imagePage_;
    QComboBox* senderPicker_;
    QLabel* frameSize_;
    SegmentedPicker* bandwidthPicker_;
    QLabel* receiveStats_;
    QLabel* noSendersHint_;
    ElidedLabel* videoFileLabel_;
    ElidedLabel* imageFileLabel_;
};

// The last NDI frame's size as "1920×1080", or "—" before any frame.
QString frameSizeText(double width, double height);

// The receiver's counters as one line: rate, losses since connecting, frames waiting.
QString receiveStatsText(const NDIReceiveStats& stats);

// Why the sender list may be empty; empty text when there is nothing to explain.
QString noSendersHintText(NDINoSendersHint hint);

}  // namespace lumbrix
