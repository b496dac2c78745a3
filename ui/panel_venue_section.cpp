#include "ui/panel_venue_section.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/panel_elided_label.h"
#include "ui/panel_style.h"
#include "viewer/path_name.h"

namespace lumbrix {

PanelVenueSection::PanelVenueSection(ViewerViewModel& viewModel, QWidget* parent) : QWidget(parent), vm_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);

    auto* addRow = new QHBoxLayout;
    auto* add = new QPushButton(QStringLiteral("Add…"), this);
    add->setObjectName(QStringLiteral("addVenueButton"));
    addRow->addWidget(add);
    addRow->addStretch(1);
    layout->addLayout(addRow);

    emptyLabel_ = new QLabel(QStringLiteral("No venue geometry"), this);
    emptyLabel_->setObjectName(QStringLiteral("venueEmptyLabel"));
    layout->addWidget(emptyLabel_);

    rows_ = new QWidget(this);
    rows_->setObjectName(QStringLiteral("venueRows"));
    rowsLayout_ = new QVBoxLayout(rows_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(6);
    layout->addWidget(rows_);

    letButtonsShrink(this);
    connect(add, &QPushButton::clicked, this, [this] { vm_.chooseVenues(); });
    connect(&vm_, &ViewerViewModel::changed, this, [this](ViewerViewModel::Field field) {
        if (field == ViewerViewModel::Field::venues) rebuildRows();
    });
    rebuildRows();
}

void PanelVenueSection::rebuildRows() {
    // The old rows go later: a row's own Clear button may be what changed the list, and
    // it must not be deleted inside its click.
    for (QWidget* old : rows_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        rowsLayout_->removeWidget(old);
        old->hide();
        old->setObjectName(QString());
        old->deleteLater();
    }
    const auto& venues = vm_.venues();
    emptyLabel_->setVisible(venues.empty());
    rows_->setVisible(!venues.empty());
    for (size_t i = 0; i < venues.size(); ++i) rowsLayout_->addWidget(makeRow(static_cast<int>(i), venues[i]));
}

QWidget* PanelVenueSection::makeRow(int index, const VenueEntry& entry) {
    const QString suffix = QString::number(index);
    auto* row = new QWidget(rows_);
    row->setObjectName(QStringLiteral("venueRow_") + suffix);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* name = new ElidedLabel(row);
    name->setFullText(lastPathComponent(entry.url));
    name->setObjectName(QStringLiteral("venueName_") + suffix);
    name->setToolTip(entry.url);
    layout->addWidget(name, 1);

    // The switch's label is hidden; assistive tools still read it.
    auto* visible = new QCheckBox(row);
    visible->setObjectName(QStringLiteral("venueVisible_") + suffix);
    visible->setAccessibleName(QStringLiteral("Visible"));
    visible->setToolTip(QStringLiteral("Visible"));
    visible->setChecked(entry.visible);
    layout->addWidget(visible);

    auto* clear = new QPushButton(QStringLiteral("Clear"), row);
    clear->setObjectName(QStringLiteral("venueClear_") + suffix);
    layout->addWidget(clear);
    letButtonsShrink(row);

    // Rows act on the entry's id, which stays right while the list changes around it.
    const QUuid id = entry.id;
    connect(visible, &QCheckBox::toggled, this, [this, id](bool on) { vm_.setVenueVisible(id, on); });
    connect(clear, &QPushButton::clicked, this, [this, id] { vm_.removeVenue(id); });
    return row;
}

}  // namespace lumbrix
