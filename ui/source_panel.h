#pragma once
// The side panel: every setting of the viewer in four collapsible sections (model,
// venue, source, capture), each control bound to a view-model field or operation.
#include <QWidget>

namespace lumbrix {

class ViewerViewModel;

class SourcePanel : public QWidget {
    Q_OBJECT

public:
    explicit SourcePanel(ViewerViewModel& viewModel, QWidget* parent = nullptr);
    ~SourcePanel() override;
};

}  // namespace lumbrix
