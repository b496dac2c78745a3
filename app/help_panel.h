#pragma once
// The floating keyboard-shortcut panel and the controller that keeps at most one of
// them: shown from the Help menu, closed by its OK button or Escape, rebuilt on the
// next show after a close.
#include <functional>

#include <QPointer>
#include <QWidget>

namespace lumbrix {

class KeyboardShortcutsCard;

// A borderless, see-through tool window that stays above the main window and holds
// the card with its shadow.
class HelpPanel final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidthPx = 300;
    static constexpr int kHeightPx = 560;

    explicit HelpPanel(QWidget* parent = nullptr);

    // Run when the user presses Escape in the panel.
    std::function<void()> onClose;

    KeyboardShortcutsCard* card() const { return card_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    KeyboardShortcutsCard* card_ = nullptr;
};

class HelpPanelController final : public QObject {
    Q_OBJECT

public:
    explicit HelpPanelController(QObject* parent = nullptr);
    ~HelpPanelController() override;

    // Builds and shows the panel at the screen's centre, or brings the shown one forward.
    void show();
    // Discards the panel; nothing without one.
    void hide();

    // The panel while it is shown.
    HelpPanel* panel() const { return panel_; }

private:
    QPointer<HelpPanel> panel_;
};

}  // namespace lumbrix
