#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/source_panel.h is internal to ui/"
#endif
// The side panel: every setting of the viewer in four collapsible sections (model,
// venue, source, capture), each control bound to a view-model field or operation. The
// panel keeps no state of its own; even the sections' expanded flags live in the view
// model.
#include <functional>

#include <QString>
#include <QWidget>

namespace lumbrix {

class PanelCaptureSection;
class PanelSection;
class ViewerViewModel;

class SourcePanel : public QWidget {
    Q_OBJECT

public:
    // Asks the user for a folder; the answer is the chosen path, or empty for Cancel.
    using FolderPicker = std::function<void(std::function<void(QString)>)>;

    explicit SourcePanel(ViewerViewModel& viewModel, QWidget* parent = nullptr);
    ~SourcePanel() override;

    // Replaces the capture folder chooser (by default Qt's non-modal folder dialog over
    // this panel); tests answer without a dialog.
    void setFolderPicker(FolderPicker picker);

private:
    void refreshExpanded();

    ViewerViewModel& vm_;
    PanelSection* model_;
    PanelSection* venue_;
    PanelSection* source_;
    PanelSection* capture_;
    PanelCaptureSection* captureContent_;
};

}  // namespace lumbrix
