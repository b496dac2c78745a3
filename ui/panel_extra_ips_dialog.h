#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_extra_ips_dialog.h is internal to ui/"
#endif
// The SOURCE section's "Extra IPs…" dialog: one line of addresses for the NDI finder to
// ask directly, checked when OK is pressed.
#include <functional>
#include <optional>

#include <QDialog>

class QLabel;
class QLineEdit;

namespace lumbrix {

class ExtraIPsDialog : public QDialog {
    Q_OBJECT

public:
    // `apply` takes the typed text; an answer is why it was refused, shown in the dialog,
    // which then stays open for a correction.
    using Apply = std::function<std::optional<QString>(const QString& typed)>;

    ExtraIPsDialog(const QString& current, Apply apply, QWidget* parent = nullptr);

    void accept() override;

private:
    Apply apply_;
    QLineEdit* edit_;
    QLabel* problem_;
};

}  // namespace lumbrix
