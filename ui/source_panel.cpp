#include "ui/source_panel.h"

namespace lumbrix {

SourcePanel::SourcePanel(ViewerViewModel& viewModel, QWidget* parent) : QWidget(parent) { (void)viewModel; }

SourcePanel::~SourcePanel() = default;

}  // namespace lumbrix
