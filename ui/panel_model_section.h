#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_model_section.h is internal to ui/"
#endif
// The MODEL section's content: model kind and file, FBX cameras, faces, inactive side,
// field of view and the UV grid.
#include <QWidget>

#include "viewer/viewer_view_model.h"

class QCheckBox;
class QComboBox;
class QGraphicsOpacityEffect;
class QLabel;
class QSlider;

namespace lumbrix {

class ElidedLabel;
class SegmentedPicker;

class PanelModelSection : public QWidget {
    Q_OBJECT

public:
    explicit PanelModelSection(ViewerViewModel& viewModel, QWidget* parent = nullptr);

private:
    void refresh(ViewerViewModel::Field field);
    void refreshKindAndFile();
    void refreshCameras();
    void refreshFieldOfView();
    void refreshUVGrid();

    ViewerViewModel& vm_;
    SegmentedPicker* kindPicker_;
    ElidedLabel* fileLabel_;
    QLabel* cameraStatus_;
    QComboBox* cameraPicker_;
    QComboBox* facePicker_;
    SegmentedPicker* inactivePicker_;
    QSlider* fovSlider_;
    QLabel* fovValue_;
    QCheckBox* uvGridSwitch_;
    QWidget* uvDensityRow_;
    QGraphicsOpacityEffect* uvDensityOpacity_;
    QSlider* uvDensitySlider_;
    QLabel* uvDensityValue_;
};

}  // namespace lumbrix
