#include "ui/panel_section.h"

#include <QToolButton>
#include <QVBoxLayout>

#include "ui/panel_style.h"

namespace lumbrix {

PanelSection::PanelSection(const QString& title, const QString& name, QWidget* content, QWidget* parent)
    : QWidget(parent), header_(new QToolButton(this)), content_(content) {
    header_->setObjectName(name);
    header_->setText(title);
    header_->setFont(captionFont(true));
    header_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header_->setAutoRaise(true);
    header_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    content_->setObjectName(name + QStringLiteral("Content"));
    content_->setParent(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(header_);
    layout->addWidget(content_);

    connect(header_, &QToolButton::clicked, this, [this] { emit expandRequested(!expanded_); });
    setExpanded(true);
}

void PanelSection::setExpanded(bool expanded) {
    expanded_ = expanded;
    header_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    content_->setVisible(expanded);
}

}  // namespace lumbrix
