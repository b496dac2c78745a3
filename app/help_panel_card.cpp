#include "app/help_panel_card.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

#include "app/app_icon.h"
#include "ui/command_table.h"

namespace lumbrix {

namespace {

constexpr int kIconPx = 70;
constexpr int kKeyColumnPx = 96;

// Sizes are given in logical pixels; fractional ones (12.5) need a point size, which
// depends on the screen's logical resolution.
QFont cardFont(qreal sizePx, QFont::Weight weight, bool monospaced = false) {
    QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QGuiApplication::font();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
    font.setPointSizeF(sizePx * 72.0 / dpi);
    font.setWeight(weight);
    return font;
}

QLabel* makeLabel(const QString& text, const QFont& font, qreal opacity, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, %1); background: transparent;")
                             .arg(opacity, 0, 'f', 2));
    return label;
}

QPixmap roundedIcon() {
    const qreal ratio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    const int pixels = qRound(kIconPx * ratio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, pixels, pixels), 16 * ratio, 16 * ratio);
    painter.setClipPath(clip);
    painter.drawImage(QRect(0, 0, pixels, pixels), renderLumbrixIcon(pixels));
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

}  // namespace

HudButton::HudButton(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setFixedSize(sizeHint());
    setFont(cardFont(13, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    // A plain button: Escape and the panel keep the keyboard.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void HudButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HudButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void HudButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plate = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, hovered_ ? 0.22 : 0.14), 1));
    painter.setBrush(QColor::fromRgbF(1, 1, 1, hovered_ ? 0.18 : 0.12));
    painter.drawRoundedRect(plate, 10, 10);
    painter.setPen(QColor::fromRgbF(1, 1, 1, 0.92));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

QString KeyboardShortcutsCard::keysText(const CommandSpec& spec) {
    // "Ctrl+L" reads "Ctrl L" on the card; a slot command's Key_0 stands for all ten digits.
    QString text = QKeySequence(spec.keys).toString(QKeySequence::PortableText);
    text.replace(QLatin1Char('+'), QLatin1Char(' '));
    if (spec.digitSlots) text += QStringLiteral("\u20269");
    return text;
}

const std::vector<KeyboardShortcutsCard::Section>& KeyboardShortcutsCard::sections() {
    static const std::vector<Section> table = [] {
        std::vector<Section> built;
        for (const CommandSpec& spec : kCommands) {
            if (!spec.hasKeys() || spec.helpSection == nullptr) continue;
            const QString title = QString::fromUtf8(spec.helpSection);
            if (built.empty() || built.back().title != title) built.push_back({title, {}});
            built.back().rows.push_back({keysText(spec), QString::fromUtf8(spec.helpDescription)});
        }
        return built;
    }();
    return table;
}

KeyboardShortcutsCard::KeyboardShortcutsCard(std::function<void()> onClose, QWidget* parent)
    : QWidget(parent), onClose_(std::move(onClose)) {
    setObjectName(QStringLiteral("keyboardShortcutsCard"));
    setFixedSize(kWidthPx, kHeightPx);
    setAttribute(Qt::WA_TranslucentBackground);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 26, 18, 26);
    column->setSpacing(0);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("helpPanelIcon"));
    icon->setPixmap(roundedIcon());
    icon->setFixedSize(kIconPx, kIconPx);
    column->addSpacing(6);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addSpacing(12);
    QLabel* title = makeLabel(QStringLiteral("Keyboard Shortcuts"), cardFont(16, QFont::DemiBold), 0.95, this);
    title->setObjectName(QStringLiteral("helpPanelTitle"));
    column->addWidget(title, 0, Qt::AlignHCenter);
    column->addSpacing(14);

    const QFont headerFont = cardFont(13, QFont::DemiBold);
    const QFont keyFont = cardFont(12.5, QFont::DemiBold, true);
    const QFont descriptionFont = cardFont(12.5, QFont::Normal);
    bool first = true;
    for (const Section& section : sections()) {
        if (!first) column->addSpacing(14 + 6);
        first = false;
        column->addWidget(makeLabel(section.title, headerFont, 0.55, this));
        for (const Row& row : section.rows) {
            column->addSpacing(5);
            auto* line = new QHBoxLayout;
            line->setSpacing(10);
            QLabel* keys = makeLabel(row.keys, keyFont, 0.86, this);
            keys->setFixedWidth(kKeyColumnPx);
            keys->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            line->addWidget(keys);
            QLabel* description = makeLabel(row.description, descriptionFont, 0.86, this);
            description->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            line->addWidget(description, 1);
            column->addLayout(line);
        }
    }
    column->addStretch(1);
    column->addSpacing(14);
    auto* ok = new HudButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("helpPanelOkButton"));
    connect(ok, &QAbstractButton::clicked, this, [this] {
        if (onClose_) onClose_();
    });
    column->addWidget(ok, 0, Qt::AlignHCenter);
}

void KeyboardShortcutsCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(card.topLeft(), card.bottomLeft());
    fill.setColorAt(0.0, QColor::fromRgbF(0.2, 0.2, 0.2));
    fill.setColorAt(1.0, QColor::fromRgbF(0.13, 0.13, 0.13));
    painter.setBrush(fill);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.12), 1));
    painter.drawRoundedRect(card, 26, 26);
}

}  // namespace lumbrix
