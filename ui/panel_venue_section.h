#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_venue_section.h is internal to ui/"
#endif
// The VENUE section's content: the Add button and one row per venue mesh, each with what
// the venue shows: nothing, a region of the canvas, or a source of its own.
#include <array>
#include <vector>

#include <QUuid>
#include <QWidget>

#include "viewer/viewer_view_model.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

namespace lumbrix {

class PanelVenueSection : public QWidget {
    Q_OBJECT

public:
    explicit PanelVenueSection(ViewerViewModel& viewModel, QWidget* parent = nullptr);

private:
    // A row's widgets that follow its entry while the list keeps its venues.
    struct Row {
        QUuid id;
        QComboBox* content = nullptr;
        QWidget* regionBox = nullptr;
        std::array<QSpinBox*, 4> region{};
        QWidget* sourceBox = nullptr;
        QComboBox* sourceKind = nullptr;
        QPushButton* chooseFile = nullptr;
        QComboBox* sender = nullptr;
        QLabel* sourceStatus = nullptr;
    };

    void venuesChanged();
    void rebuildRows();
    QWidget* makeRow(int index, const VenueEntry& entry);
    QWidget* makeContentRows(QWidget* row, const QString& suffix, Row& widgets);
    void showContent(Row& row, const VenueEntry& entry);
    VenueContentSetting contentOf(const Row& row) const;
    void commitContent(const Row& row);

    ViewerViewModel& vm_;
    std::vector<Row> shownRows_;
    QLabel* emptyLabel_;
    QWidget* rows_;
    QVBoxLayout* rowsLayout_;
};

}  // namespace lumbrix
