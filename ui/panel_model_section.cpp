#include "ui/panel_model_section.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "ui/panel_elided_label.h"
#include "ui/panel_segmented_picker.h"
#include "ui/panel_style.h"
#include "viewer/path_name.h"

namespace lumbrix {

namespace {

constexpr int kFovMin = 5;
constexpr int kFovMax = 120;
constexpr int kDensityMin = 1;
constexpr int kDensityMax = 80;

QHBoxLayout* row(QVBoxLayout* into) {
    auto* layout = new QHBoxLayout;
    layout->setSpacing(8);
    into->addLayout(layout);
    return layout;
}

QSlider* makeSlider(const QString& name, int minimum, int maximum, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    return slider;
}

QLabel* makeValueLabel(const QString& name, int widthPx, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFixedWidth(widthPx);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

}  // namespace

PanelModelSection::PanelModelSection(ViewerViewModel& viewModel, QWidget* parent) : QWidget(parent), vm_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(8);

    auto* kindRow = row(layout);
    kindRow->addWidget(new QLabel(QStringLiteral("Model"), this));
    kindPicker_ = new SegmentedPicker({QStringLiteral("OBJ"), QStringLiteral("FBX")}, this);
    kindPicker_->setObjectName(QStringLiteral("modelKindPicker"));
    kindRow->addWidget(kindPicker_, 1);

    auto* fileRow = row(layout);
    fileRow->setSpacing(6);
    auto* choose = new QPushButton(QStringLiteral("Choose…"), this);
    choose->setObjectName(QStringLiteral("chooseModelButton"));
    auto* clean = new QPushButton(QStringLiteral("Clean"), this);
    clean->setObjectName(QStringLiteral("clearModelButton"));
    auto* fit = new QPushButton(QStringLiteral("Fit"), this);
    fit->setObjectName(QStringLiteral("fitButton"));
    fileLabel_ = new ElidedLabel(this);
    fileLabel_->setObjectName(QStringLiteral("modelFileLabel"));
    fileRow->addWidget(choose);
    fileRow->addWidget(clean);
    fileRow->addWidget(fit);
    fileRow->addWidget(fileLabel_, 1);

    layout->addWidget(makeSubheading(QStringLiteral("FBX CAMERAS"), this));
    cameraStatus_ = new QLabel(this);
    cameraStatus_->setObjectName(QStringLiteral("fbxCameraStatus"));
    layout->addWidget(cameraStatus_);
    auto* cameraRow = row(layout);
    cameraRow->addWidget(new QLabel(QStringLiteral("Camera"), this));
    cameraPicker_ = new QComboBox(this);
    cameraPicker_->setObjectName(QStringLiteral("fbxCameraPicker"));
    cameraRow->addWidget(cameraPicker_, 1);

    layout->addWidget(makeSubheading(QStringLiteral("FACES"), this));
    auto* faceRow = row(layout);
    faceRow->addWidget(new QLabel(QStringLiteral("Faces"), this));
    facePicker_ = new QComboBox(this);
    facePicker_->setObjectName(QStringLiteral("faceModePicker"));
    facePicker_->addItems({QStringLiteral("Both"), QStringLiteral("Front"), QStringLiteral("Back")});
    faceRow->addWidget(facePicker_, 1);

    layout->addWidget(makeSubheading(QStringLiteral("INACTIVE SIDE"), this));
    auto* inactiveRow = row(layout);
    inactiveRow->addWidget(new QLabel(QStringLiteral("Inactive"), this));
    inactivePicker_ = new SegmentedPicker({QStringLiteral("Gray"), QStringLiteral("Hide")}, this);
    inactivePicker_->setObjectName(QStringLiteral("inactiveSidePicker"));
    inactiveRow->addWidget(inactivePicker_, 1);

    layout->addWidget(makeSubheading(QStringLiteral("CAMERA"), this));
    auto* fovRow = row(layout);
    fovRow->addWidget(new QLabel(QStringLiteral("FOV"), this));
    fovSlider_ = makeSlider(QStringLiteral("fovSlider"), kFovMin, kFovMax, this);
    fovRow->addWidget(fovSlider_, 1);
    fovValue_ = makeValueLabel(QStringLiteral("fovValue"), 44, this);
    fovRow->addWidget(fovValue_);

    uvGridSwitch_ = new QCheckBox(QStringLiteral("Show UV Grid"), this);
    uvGridSwitch_->setObjectName(QStringLiteral("uvGridSwitch"));
    layout->addWidget(uvGridSwitch_);

    uvDensityRow_ = new QWidget(this);
    uvDensityRow_->setObjectName(QStringLiteral("uvDensityRow"));
    auto* densityLayout = new QHBoxLayout(uvDensityRow_);
    densityLayout->setContentsMargins(0, 0, 0, 0);
    densityLayout->setSpacing(8);
    densityLayout->addWidget(new QLabel(QStringLiteral("UV Density"), uvDensityRow_));
    uvDensitySlider_ = makeSlider(QStringLiteral("uvDensitySlider"), kDensityMin, kDensityMax, uvDensityRow_);
    densityLayout->addWidget(uvDensitySlider_, 1);
    uvDensityValue_ = makeValueLabel(QStringLiteral("uvDensityValue"), 36, uvDensityRow_);
    densityLayout->addWidget(uvDensityValue_);
    uvDensityOpacity_ = new QGraphicsOpacityEffect(uvDensityRow_);
    uvDensityRow_->setGraphicsEffect(uvDensityOpacity_);
    layout->addWidget(uvDensityRow_);

    connect(kindPicker_, &SegmentedPicker::activated, this,
            [this](int index) { vm_.setModelKind(kAllModelKinds.at(static_cast<size_t>(index))); });
    connect(choose, &QPushButton::clicked, this, [this] {
        if (vm_.modelKind() == ModelKind::obj) {
            vm_.chooseOBJModel();
        } else {
            vm_.chooseFBXModel();
        }
    });
    connect(clean, &QPushButton::clicked, this, [this] { vm_.clearModel(); });
    connect(fit, &QPushButton::clicked, this, [this] { vm_.requestFit(); });
    // Entry 0 is "Default", the scene's own camera index -1.
    connect(cameraPicker_, &QComboBox::activated, this, [this](int index) { vm_.selectFBXCamera(index - 1); });
    connect(facePicker_, &QComboBox::activated, this,
            [this](int index) { vm_.setFaceMode(kAllFaceModes.at(static_cast<size_t>(index))); });
    connect(inactivePicker_, &SegmentedPicker::activated, this,
            [this](int index) { vm_.setInactiveSideMode(kAllInactiveSideModes.at(static_cast<size_t>(index))); });
    connect(fovSlider_, &QSlider::valueChanged, this,
            [this](int degrees) { vm_.setFieldOfView(static_cast<float>(degrees)); });
    connect(uvGridSwitch_, &QCheckBox::toggled, this, [this](bool on) { vm_.setShowUVGrid(on); });
    connect(uvDensitySlider_, &QSlider::valueChanged, this,
            [this](int density) { vm_.setUvGridDensity(static_cast<double>(density)); });
    letButtonsShrink(this);
    // Compact buttons leave the file name room to be read.
    for (QPushButton* button : {choose, clean, fit}) button->setFixedWidth(button->minimumWidth());
    connect(&vm_, &ViewerViewModel::changed, this, &PanelModelSection::refresh);

    refreshKindAndFile();
    refresh(ViewerViewModel::Field::faceMode);
    refresh(ViewerViewModel::Field::inactiveSideMode);
    refreshCameras();
    refreshFieldOfView();
    refreshUVGrid();
}

void PanelModelSection::refresh(ViewerViewModel::Field field) {
    using Field = ViewerViewModel::Field;
    switch (field) {
    case Field::modelKind:
    case Field::objURL:
    case Field::fbxURL:
        refreshKindAndFile();
        break;
    case Field::fbxCameras:
    case Field::selectedFBXCameraIndex:
    case Field::fbxCameraStatus:
        refreshCameras();
        break;
    case Field::faceMode: {
        const QSignalBlocker blocker(facePicker_);
        facePicker_->setCurrentIndex(indexOfCase(kAllFaceModes, vm_.faceMode()));
        break;
    }
    case Field::inactiveSideMode:
        inactivePicker_->setCurrentIndex(indexOfCase(kAllInactiveSideModes, vm_.inactiveSideMode()));
        break;
    case Field::fovDegrees:
        refreshFieldOfView();
        break;
    case Field::showUVGrid:
    case Field::uvGridDensity:
        refreshUVGrid();
        break;
    default:
        break;
    }
}

void PanelModelSection::refreshKindAndFile() {
    const bool obj = vm_.modelKind() == ModelKind::obj;
    kindPicker_->setCurrentIndex(indexOfCase(kAllModelKinds, vm_.modelKind()));
    // Only the file of the current kind counts: an OBJ loaded before switching to FBX
    // is not the FBX file.
    const std::optional<QString>& url = obj ? vm_.objURL() : vm_.fbxURL();
    fileLabel_->setFullText(url ? lastPathComponent(*url)
                            : (obj ? QStringLiteral("No OBJ selected") : QStringLiteral("No FBX selected")));
}

void PanelModelSection::refreshCameras() {
    cameraStatus_->setText(vm_.fbxCameraStatus());
    const QSignalBlocker blocker(cameraPicker_);
    QStringList entries{QStringLiteral("Default")};
    for (const auto& camera : vm_.fbxCameras()) entries.push_back(QString::fromStdString(camera->name()));
    QStringList shown;
    for (int i = 0; i < cameraPicker_->count(); ++i) shown.push_back(cameraPicker_->itemText(i));
    // Rebuilding an unchanged list would close an open popup under the user's pointer.
    if (shown != entries) {
        cameraPicker_->clear();
        cameraPicker_->addItems(entries);
    }
    const int selected = vm_.selectedFBXCameraIndex();
    const bool valid = selected >= 0 && static_cast<size_t>(selected) < vm_.fbxCameras().size();
    cameraPicker_->setCurrentIndex(valid ? selected + 1 : 0);
}

void PanelModelSection::refreshFieldOfView() {
    const QSignalBlocker blocker(fovSlider_);
    fovSlider_->setValue(static_cast<int>(std::lround(vm_.fovDegrees())));
    fovValue_->setText(wholeNumberText(vm_.fovDegrees()));
}

void PanelModelSection::refreshUVGrid() {
    {
        const QSignalBlocker blocker(uvGridSwitch_);
        uvGridSwitch_->setChecked(vm_.showUVGrid());
    }
    // Dimmed, not disabled: the density can be set before the grid is shown.
    uvDensityOpacity_->setOpacity(vm_.showUVGrid() ? 1.0 : 0.5);
    const QSignalBlocker blocker(uvDensitySlider_);
    const double density = vm_.uvGridDensity();
    uvDensitySlider_->setValue(std::isfinite(density) ? static_cast<int>(std::lround(std::clamp(density, 1.0, 80.0)))
                                                      : kDensityMin);
    uvDensityValue_->setText(wholeNumberText(density));
}

}  // namespace lumbrix
