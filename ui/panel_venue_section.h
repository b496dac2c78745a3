#pragma once
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
