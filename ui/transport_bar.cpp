#include "ui/transport_bar.h"

namespace lumbrix {

TransportBar::TransportBar(ViewerViewModel& viewModel, QWidget* parent) : QWidget(parent) { (void)viewModel; }

TransportBar::~TransportBar() = default;

}  // namespace lumbrix
