#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/main_window_sidebar.h is internal to ui/"
#endif
// The window's left pane: the source panel in a fixed-width scrolling frame with a
// collapse chevron over its corner, or, collapsed, a narrow strip with an expand
// chevron. Which one shows follows the view model's isSidebarCollapsed both ways.
#include <QAbstractButton>
#include <QStackedWidget>

namespace lumbrix {

class ViewerViewModel;
class SourcePanel;

// A small plain chevron button on a dimmed backing, drawn rather than taken from an
// icon theme so it looks the same on every desktop.
class ChevronButton final : public QAbstractButton {
    Q_OBJECT

public:
    enum class Direction { left, right };

    explicit ChevronButton(Direction direction, QWidget* parent = nullptr);

    Direction direction() const { return direction_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Direction direction_;
};

class SidebarPane final : public QStackedWidget {
    Q_OBJECT

public:
    static constexpr int kExpandedWidthPx = 300;
    static constexpr int kCollapsedWidthPx = 40;
    static constexpr int kButtonInsetPx = 10;

    explicit SidebarPane(ViewerViewModel& viewModel, QWidget* parent = nullptr);

    SourcePanel* sourcePanel() const { return sourcePanel_; }
    ChevronButton* collapseButton() const { return collapseButton_; }
    ChevronButton* expandButton() const { return expandButton_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showCollapsed(bool collapsed);
    void placeCollapseButton();

    ViewerViewModel& viewModel_;
    QWidget* panelFrame_ = nullptr;
    QWidget* strip_ = nullptr;
    SourcePanel* sourcePanel_ = nullptr;
    ChevronButton* collapseButton_ = nullptr;
    ChevronButton* expandButton_ = nullptr;
};

}  // namespace lumbrix
