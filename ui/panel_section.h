#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_section.h is internal to ui/"
#endif
// A collapsible group of the side panel: a clickable title with a disclosure arrow over
// its content. The expanded state belongs to the view model; this widget only shows it
// and reports the user's clicks.
#include <QWidget>

class QToolButton;

namespace lumbrix {

class PanelSection : public QWidget {
    Q_OBJECT

public:
    // The header button is named `name`, the content `name` + "Content".
    PanelSection(const QString& title, const QString& name, QWidget* content, QWidget* parent = nullptr);

    bool isExpanded() const { return expanded_; }
    void setExpanded(bool expanded);
    QToolButton* header() const { return header_; }
    QWidget* content() const { return content_; }

signals:
    void expandRequested(bool expanded);

private:
    QToolButton* header_;
    QWidget* content_;
    bool expanded_ = true;
};

}  // namespace lumbrix
