#pragma once
// The keyboard-shortcut card the help panel shows: the icon and title, the key and
// description rows of each help section, and an OK button. The card paints its own rounded, lit
// background; the panel around it is transparent.
#include <functional>
#include <vector>

#include <QAbstractButton>
#include <QWidget>

namespace lumbrix {

struct CommandSpec;

// The card's one button: a quiet rounded plate that brightens under the pointer.
class HudButton final : public QAbstractButton {
    Q_OBJECT

public:
    explicit HudButton(const QString& text, QWidget* parent = nullptr);

    bool isHovered() const { return hovered_; }
    QSize sizeHint() const override { return {110, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool hovered_ = false;
};

class KeyboardShortcutsCard final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidthPx = 285;
    static constexpr int kHeightPx = 540;

    // `onClose` runs when OK is pressed.
    explicit KeyboardShortcutsCard(std::function<void()> onClose, QWidget* parent = nullptr);

    // What the rows say, in order: key text and description, for each keyed command of
    // the command table, so the card names the keys that really act.
    struct Row {
        QString keys;
        QString description;
    };
    struct Section {
        QString title;
        std::vector<Row> rows;
    };
    static const std::vector<Section>& sections();
    // "Ctrl L", "Alt 0…9".
    static QString keysText(const CommandSpec& spec);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void()> onClose_;
};

}  // namespace lumbrix
