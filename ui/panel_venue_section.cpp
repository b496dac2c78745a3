#include "ui/panel_venue_section.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/panel_elided_label.h"
#include "ui/panel_style.h"
#include "sources/ndi_receiver.h"
#include "viewer/path_name.h"
#include "viewer/source_kinds.h"

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
        if (field == ViewerViewModel::Field::venues) venuesChanged();
        // The own NDI feeds are picked from the senders the main receiver lists.
        if (field == ViewerViewModel::Field::receiver) {
            for (Row& row : shownRows_) {
                for (const VenueEntry& entry : vm_.venues()) {
                    if (entry.id == row.id) showContent(row, entry);
                }
            }
        }
    });
    rebuildRows();
}

namespace {

constexpr VenueContentKind kContentKinds[] = {VenueContentKind::none, VenueContentKind::canvasRegion,
                                              VenueContentKind::ownSource};
constexpr int kMaxRegionPx = 1 << 20;

}  // namespace

void PanelVenueSection::venuesChanged() {
    // Editing a region must not rebuild the row under the spin box being typed in: while
    // the same venues are listed in the same order, the rows only follow their entries.
    const auto& venues = vm_.venues();
    bool same = venues.size() == shownRows_.size();
    for (size_t i = 0; same && i < venues.size(); ++i) same = venues[i].id == shownRows_[i].id;
    if (!same) {
        rebuildRows();
        return;
    }
    for (size_t i = 0; i < venues.size(); ++i) showContent(shownRows_[i], venues[i]);
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
    shownRows_.clear();
    shownRows_.reserve(venues.size());
    for (size_t i = 0; i < venues.size(); ++i) rowsLayout_->addWidget(makeRow(static_cast<int>(i), venues[i]));
    for (size_t i = 0; i < venues.size(); ++i) showContent(shownRows_[i], venues[i]);
}

QWidget* PanelVenueSection::makeRow(int index, const VenueEntry& entry) {
    const QString suffix = QString::number(index);
    auto* row = new QWidget(rows_);
    row->setObjectName(QStringLiteral("venueRow_") + suffix);
    auto* rowLayout = new QVBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(4);
    auto* layout = new QHBoxLayout;
    layout->setSpacing(8);
    rowLayout->addLayout(layout);

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

    Row widgets;
    widgets.id = entry.id;
    rowLayout->addWidget(makeContentRows(row, suffix, widgets));
    shownRows_.push_back(widgets);
    letButtonsShrink(row);

    // Rows act on the entry's id, which stays right while the list changes around it.
    const QUuid id = entry.id;
    connect(visible, &QCheckBox::toggled, this, [this, id](bool on) { vm_.setVenueVisible(id, on); });
    connect(clear, &QPushButton::clicked, this, [this, id] { vm_.removeVenue(id); });
    return row;
}

QWidget* PanelVenueSection::makeContentRows(QWidget* row, const QString& suffix, Row& widgets) {
    auto* box = new QWidget(row);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto* showsLine = new QHBoxLayout;
    showsLine->addWidget(makeCaptionLabel(QStringLiteral("Shows"), false, box));
    widgets.content = new QComboBox(box);
    widgets.content->setObjectName(QStringLiteral("venueContent_") + suffix);
    widgets.content->addItems({QStringLiteral("Nothing"), QStringLiteral("Canvas region"), QStringLiteral("Own source")});
    showsLine->addWidget(widgets.content, 1);
    layout->addLayout(showsLine);

    widgets.regionBox = new QWidget(box);
    auto* grid = new QGridLayout(widgets.regionBox);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    const char* names[] = {"X", "Y", "W", "H"};
    for (int i = 0; i < 4; ++i) {
        auto* spin = new QSpinBox(widgets.regionBox);
        spin->setObjectName(QStringLiteral("venueRegion%1_").arg(QLatin1String(names[i])) + suffix);
        // A region may reach past the canvas on any side; it always covers something.
        spin->setRange(i < 2 ? -kMaxRegionPx : 1, kMaxRegionPx);
        spin->setAccessibleName(QLatin1String(names[i]));
        spin->setKeyboardTracking(false);
        widgets.region[size_t(i)] = spin;
        grid->addWidget(makeCaptionLabel(QLatin1String(names[i]), false, widgets.regionBox), i / 2, (i % 2) * 2);
        grid->addWidget(spin, i / 2, (i % 2) * 2 + 1);
    }
    auto* whole = new QPushButton(QStringLiteral("Whole canvas"), widgets.regionBox);
    whole->setObjectName(QStringLiteral("venueWholeCanvas_") + suffix);
    grid->addWidget(whole, 2, 0, 1, 4);
    layout->addWidget(widgets.regionBox);

    widgets.sourceBox = new QWidget(box);
    auto* sourceLayout = new QGridLayout(widgets.sourceBox);
    sourceLayout->setContentsMargins(0, 0, 0, 0);
    sourceLayout->setSpacing(4);
    widgets.sourceKind = new QComboBox(widgets.sourceBox);
    widgets.sourceKind->setObjectName(QStringLiteral("venueSourceKind_") + suffix);
    for (const SourceKind& kind : sourceKinds()) widgets.sourceKind->addItem(kind.label, static_cast<int>(kind.mode));
    widgets.chooseFile = new QPushButton(QStringLiteral("Choose\u2026"), widgets.sourceBox);
    widgets.chooseFile->setObjectName(QStringLiteral("venueChooseSource_") + suffix);
    widgets.sender = new QComboBox(widgets.sourceBox);
    widgets.sender->setObjectName(QStringLiteral("venueSender_") + suffix);
    widgets.sourceStatus = new QLabel(widgets.sourceBox);
    widgets.sourceStatus->setObjectName(QStringLiteral("venueSourceStatus_") + suffix);
    sourceLayout->addWidget(widgets.sourceKind, 0, 0);
    sourceLayout->addWidget(widgets.chooseFile, 0, 1);
    sourceLayout->addWidget(widgets.sender, 0, 1);
    sourceLayout->addWidget(widgets.sourceStatus, 1, 0, 1, 2);
    layout->addWidget(widgets.sourceBox);

    const Row copy = widgets;
    connect(widgets.content, &QComboBox::activated, this, [this, copy](int index) {
        const VenueEntry* entry = vm_.venue(copy.id);
        if (entry == nullptr) return;
        VenueContentSetting content = contentOf(copy);
        content.kind = kContentKinds[index];
        // A region chosen for the first time starts as the whole canvas, the one choice
        // that shows something whatever the canvas is.
        if (content.kind == VenueContentKind::canvasRegion && entry->content.region.width <= 0) {
            content.region = vm_.wholeCanvas();
        }
        vm_.setVenueContent(copy.id, content);
    });
    for (QSpinBox* spin : widgets.region) {
        connect(spin, &QSpinBox::valueChanged, this, [this, copy] { commitContent(copy); });
    }
    connect(whole, &QPushButton::clicked, this, [this, copy] {
        VenueContentSetting content = contentOf(copy);
        content.region = vm_.wholeCanvas();
        vm_.setVenueContent(copy.id, content);
    });
    connect(widgets.sourceKind, &QComboBox::activated, this, [this, copy] { commitContent(copy); });
    connect(widgets.sender, &QComboBox::activated, this, [this, copy] { commitContent(copy); });
    connect(widgets.chooseFile, &QPushButton::clicked, this, [this, copy] {
        vm_.chooseVenueSourceFile(copy.id, static_cast<SourceMode>(copy.sourceKind->currentData().toInt()));
    });
    return box;
}

VenueContentSetting PanelVenueSection::contentOf(const Row& row) const {
    const VenueEntry* entry = vm_.venue(row.id);
    VenueContentSetting content = entry ? entry->content : VenueContentSetting{};
    content.region = {row.region[0]->value(), row.region[1]->value(), row.region[2]->value(), row.region[3]->value()};
    const auto mode = static_cast<SourceMode>(row.sourceKind->currentData().toInt());
    // Another kind's file is not this kind's file.
    if (mode != content.sourceMode) content.sourcePath.clear();
    content.sourceMode = mode;
    if (row.sender->currentIndex() >= 0) content.sender = row.sender->currentText();
    return content;
}

void PanelVenueSection::commitContent(const Row& row) {
    const VenueEntry* entry = vm_.venue(row.id);
    if (entry == nullptr) return;
    VenueContentSetting content = contentOf(row);
    content.kind = entry->content.kind;
    if (content != entry->content) vm_.setVenueContent(row.id, content);
}

void PanelVenueSection::showContent(Row& row, const VenueEntry& entry) {
    const VenueContentSetting& content = entry.content;
    const QSignalBlocker blockKind(row.content);
    row.content->setCurrentIndex(int(std::find(std::begin(kContentKinds), std::end(kContentKinds), content.kind) -
                                     std::begin(kContentKinds)));
    row.regionBox->setVisible(content.kind == VenueContentKind::canvasRegion);
    row.sourceBox->setVisible(content.kind == VenueContentKind::ownSource);
    const int values[] = {content.region.x, content.region.y, content.region.width, content.region.height};
    for (size_t i = 0; i < 4; ++i) {
        const QSignalBlocker block(row.region[i]);
        row.region[i]->setValue(values[i]);
    }
    {
        const QSignalBlocker block(row.sourceKind);
        row.sourceKind->setCurrentIndex(row.sourceKind->findData(static_cast<int>(content.sourceMode)));
    }
    const bool ndi = content.sourceMode == SourceMode::ndi;
    row.chooseFile->setVisible(!ndi);
    row.sender->setVisible(ndi);
    {
        const QSignalBlocker block(row.sender);
        QStringList senders;
        for (const std::string& name : vm_.receiver()->sources()) senders.append(QString::fromStdString(name));
        // A sender not on the network now stays the venue's choice.
        if (!content.sender.isEmpty() && !senders.contains(content.sender)) senders.prepend(content.sender);
        QStringList shown;
        for (int i = 0; i < row.sender->count(); ++i) shown.append(row.sender->itemText(i));
        // Refilled only when the list changed, so an open list is not pulled away.
        if (shown != senders) {
            row.sender->clear();
            row.sender->addItems(senders);
        }
        row.sender->setCurrentIndex(content.sender.isEmpty() ? -1 : senders.indexOf(content.sender));
    }
    row.sourceStatus->setText(vm_.venueSourceStatus(entry.id));
}

}  // namespace lumbrix
