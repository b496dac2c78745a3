#include "ui/source_panel.h"

#include <QFrame>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/panel_capture_section.h"
#include "ui/panel_model_section.h"
#include "ui/panel_section.h"
#include "ui/panel_source_section.h"
#include "ui/panel_venue_section.h"
#include "ui/qt_file_picker.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

SourcePanel::SourcePanel(ViewerViewModel& viewModel, QWidget* parent) : QWidget(parent), vm_(viewModel) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // The sections together are taller than a small window; they scroll, the panel's
    // width stays.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("sourcePanelScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* stack = new QWidget(scroll);
    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(6);

    const QPointer<SourcePanel> self(this);
    captureContent_ = new PanelCaptureSection(
        vm_,
        [self](std::function<void(QString)> done) { chooseFolderWithDialog(self.data(), std::move(done)); }, stack);

    model_ = new PanelSection(QStringLiteral("MODEL"), QStringLiteral("modelSection"),
                              new PanelModelSection(vm_, stack), stack);
    venue_ = new PanelSection(QStringLiteral("VENUE"), QStringLiteral("venueSection"),
                              new PanelVenueSection(vm_, stack), stack);
    source_ = new PanelSection(QStringLiteral("SOURCE"), QStringLiteral("sourceSection"),
                               new PanelSourceSection(vm_, stack), stack);
    capture_ = new PanelSection(QStringLiteral("CAPTURE"), QStringLiteral("captureSection"), captureContent_, stack);

    layout->addWidget(model_);
    layout->addWidget(makeDivider(stack));
    layout->addWidget(venue_);
    layout->addWidget(makeDivider(stack));
    layout->addWidget(source_);
    layout->addWidget(makeDivider(stack));
    layout->addWidget(capture_);
    layout->addStretch(1);
    scroll->setWidget(stack);

    connect(model_, &PanelSection::expandRequested, this, [this](bool on) { vm_.setIsModelExpanded(on); });
    connect(venue_, &PanelSection::expandRequested, this, [this](bool on) { vm_.setIsVenueExpanded(on); });
    connect(source_, &PanelSection::expandRequested, this, [this](bool on) { vm_.setIsSourceExpanded(on); });
    connect(capture_, &PanelSection::expandRequested, this, [this](bool on) { vm_.setIsCaptureExpanded(on); });
    connect(&vm_, &ViewerViewModel::changed, this, [this](ViewerViewModel::Field field) {
        using Field = ViewerViewModel::Field;
        if (field == Field::isModelExpanded || field == Field::isVenueExpanded || field == Field::isSourceExpanded ||
            field == Field::isCaptureExpanded) {
            refreshExpanded();
        }
    });
    refreshExpanded();
}

SourcePanel::~SourcePanel() = default;

void SourcePanel::setFolderPicker(FolderPicker picker) { captureContent_->setFolderPicker(std::move(picker)); }

void SourcePanel::refreshExpanded() {
    model_->setExpanded(vm_.isModelExpanded());
    venue_->setExpanded(vm_.isVenueExpanded());
    source_->setExpanded(vm_.isSourceExpanded());
    capture_->setExpanded(vm_.isCaptureExpanded());
}

}  // namespace lumbrix
