#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_venue_section.h is internal to ui/"
#endif
// The VENUE section's content: the Add button and one row per venue mesh.
#include <QWidget>

#include "viewer/viewer_view_model.h"

class QLabel;
class QVBoxLayout;

namespace lumbrix {

class PanelVenueSection : public QWidget {
    Q_OBJECT

public:
    explicit PanelVenueSection(ViewerViewModel& viewModel, QWidget* parent = nullptr);

private:
    void rebuildRows();
    QWidget* makeRow(int index, const VenueEntry& entry);

    ViewerViewModel& vm_;
    QLabel* emptyLabel_;
    QWidget* rows_;
    QVBoxLayout* rowsLayout_;
};

}  // namespace lumbrix
