#include "ui/panel_extra_ips_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace lumbrix {

ExtraIPsDialog::ExtraIPsDialog(const QString& current, Apply apply, QWidget* parent)
    : QDialog(parent), apply_(std::move(apply)) {
    setObjectName(QStringLiteral("extraIPsDialog"));
    setWindowTitle(QStringLiteral("Extra IPs"));
    auto* layout = new QVBoxLayout(this);
    auto* explanation = new QLabel(
        QStringLiteral("Machines whose NDI senders are not found automatically, for example on another subnet. "
                       "Separate them with commas: IPv4 addresses (192.168.2.20) or host names (studio-b.local), "
                       "without ports. Leave empty for none."),
        this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    edit_ = new QLineEdit(current, this);
    edit_->setObjectName(QStringLiteral("extraIPsEdit"));
    edit_->setPlaceholderText(QStringLiteral("192.168.2.20, studio-b.local"));
    layout->addWidget(edit_);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("extraIPsProblem"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #ff6b6b;"));
    problem_->hide();
    layout->addWidget(problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ExtraIPsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExtraIPsDialog::reject);
    // Wrapped labels measure their height only against a width they are given: fixed
    // ones let the dialog fit the whole text, and again when a problem is shown.
    for (QLabel* label : {explanation, problem_}) label->setFixedWidth(420);
    adjustSize();
}

void ExtraIPsDialog::accept() {
    if (const auto problem = apply_(edit_->text())) {
        problem_->setText(*problem);
        problem_->show();
        adjustSize();
        edit_->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace lumbrix
