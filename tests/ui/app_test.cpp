// The application shell: style and palette, the menus and the notifications they post,
// the keyboard-shortcut panel, and what a desktop install puts where.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHash>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QTest>

#include "app/app_icon.h"
#include "app/application_shell.h"
#include "app/help_panel.h"
#include "app/help_panel_card.h"
#include "tests/viewer/view_model_support.h"
#include "ui/command_table.h"
#include "ui/interaction_view.h"
#include "ui/main_window.h"
#include "ui/main_window_sidebar.h"
#include "ui/transport_bar.h"
#include "ui/viewport.h"

namespace lumbrix::test {
namespace {

QApplication& widgetApplication() {
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs deferred deletions too, which a bare processEvents outside exec() leaves.
void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        pumpFor(std::chrono::milliseconds(10));
    }
}

QStringList labelTexts(const QWidget& root) {
    QStringList texts;
    for (const QLabel* label : root.findChildren<QLabel*>()) texts << label->text();
    return texts;
}

QLabel* labelWithText(const QWidget& root, const QString& text) {
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (label->text() == text) return label;
    }
    return nullptr;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        configureApplication(widgetApplication());
        ASSERT_TRUE(folder.ok());
    }
    void TearDown() override { settle(); }

    TempFolder folder;
};

TEST_F(ShellTest, TheApplicationIsNamedLumbrixAndDarkBeforeAnyWindow) {
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("Lumbrix"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Lumbrix"));
    EXPECT_EQ(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
    const QPalette palette = QApplication::palette();
    EXPECT_LT(palette.color(QPalette::Window).lightness(), 80);
    EXPECT_LT(palette.color(QPalette::Base).lightness(), 80);
    EXPECT_GT(palette.color(QPalette::WindowText).lightness(), 180);
    EXPECT_GT(palette.color(QPalette::Text).lightness(), 180);
    EXPECT_LT(palette.color(QPalette::Disabled, QPalette::Text).lightness(),
              palette.color(QPalette::Text).lightness());
    EXPECT_FALSE(QApplication::windowIcon().isNull());

    const QImage icon = renderLumbrixIcon(256);
    EXPECT_EQ(icon.size(), QSize(256, 256));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "the corners stay clear";
    EXPECT_EQ(qAlpha(icon.pixel(128, 128)), 255);
}

// --- the keyboard-shortcut panel ---------------------------------------------------------

TEST_F(ShellTest, TheHelpPanelIsAFramelessFloatingCardWithTheShortcutsThatAct) {
    HelpPanelController help;
    EXPECT_EQ(help.panel(), nullptr);
    help.show();
    HelpPanel* panel = help.panel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));

    EXPECT_EQ(panel->size(), QSize(300, 560));
    EXPECT_TRUE(panel->isWindow());
    const Qt::WindowFlags flags = panel->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TranslucentBackground));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((panel->frameGeometry().center() - screen.center()).manhattanLength(), 2) << "centred on the screen";

    KeyboardShortcutsCard* card = panel->card();
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->size(), QSize(285, 540));
    EXPECT_NE(card->graphicsEffect(), nullptr) << "the card casts a shadow";

    const QStringList texts = labelTexts(*panel);
    for (const char* text : {"Keyboard Shortcuts", "Camera Presets", "Camera", "Ctrl 0\u20269", "Save camera preset",
                             "Alt 0\u20269", "Recall camera preset", "Ctrl L", "Camera Lock", "Ctrl G", "Grid", "File",
                             "Ctrl O", "Ctrl Shift R", "Quit", "View", "F11", "Full screen 3D view"}) {
        EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << text << " missing from " << texts.join('|').toStdString();
    }
    QLabel* key = labelWithText(*panel, QStringLiteral("Ctrl L"));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->width(), 96);
    EXPECT_TRUE(key->alignment().testFlag(Qt::AlignRight));
    EXPECT_EQ(key->font().weight(), QFont::DemiBold);
    QLabel* description = labelWithText(*panel, QStringLiteral("Camera Lock"));
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(description->mapTo(card, QPoint(0, 0)).y(), key->mapTo(card, QPoint(0, 0)).y()) << "one row";
    EXPECT_GT(description->mapTo(card, QPoint(0, 0)).x(), key->mapTo(card, QPoint(96, 0)).x() - 1);
    QLabel* title = labelWithText(*panel, QStringLiteral("Keyboard Shortcuts"));
    ASSERT_NE(title, nullptr);
    QLabel* icon = panel->findChild<QLabel*>(QStringLiteral("helpPanelIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->size(), QSize(70, 70));
    EXPECT_LT(icon->mapTo(card, QPoint(0, 0)).y(), title->mapTo(card, QPoint(0, 0)).y()) << "icon above title";

    auto* ok = panel->findChild<HudButton*>(QStringLiteral("helpPanelOkButton"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->size(), QSize(110, 32));
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    const QRect okPlace(ok->mapTo(card, QPoint(0, 0)), ok->size());
    EXPECT_TRUE(QRect(QPoint(0, 0), card->size()).contains(okPlace)) << "the button fits on the card";
    EXPECT_LT(okPlace.bottom(), 540 - 20);

    // The card is painted: light grey inside its rounded edge, clear outside it.
    const QImage picture = card->grab().toImage();
    const QColor middle = picture.pixelColor(picture.width() / 2, picture.height() / 2 + 40);
    EXPECT_GT(middle.alpha(), 200);
    EXPECT_NEAR(middle.red(), 0.165 * 255, 20);
    EXPECT_LT(picture.pixelColor(1, 1).alpha(), 40) << "rounded corner";
    const QColor top = picture.pixelColor(picture.width() / 2 - 100, 30);
    const QColor bottom = picture.pixelColor(picture.width() / 2 - 100, picture.height() - 12);
    EXPECT_GT(top.red(), bottom.red()) << "lighter at the top";
}

TEST_F(ShellTest, EscapeClosesThePanelAndOtherKeysDoNot) {
    HelpPanelController help;
    help.show();
    QPointer<HelpPanel> panel = help.panel();
    ASSERT_TRUE(panel);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));

    QTest::keyClick(panel, Qt::Key_A);
    QTest::keyClick(panel, Qt::Key_Return);
    QTest::keyClick(panel, Qt::Key_L, Qt::ControlModifier);
    settle();
    EXPECT_EQ(help.panel(), panel.data());
    EXPECT_TRUE(panel && panel->isVisible());

    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_EQ(help.panel(), nullptr);
    settle();
    EXPECT_TRUE(panel.isNull()) << "a closed panel is discarded";
    help.hide();  // nothing to hide
}

TEST_F(ShellTest, ASecondShowBringsTheSamePanelForwardAndOKMakesTheNextOneNew) {
    HelpPanelController help;
    help.show();
    QPointer<HelpPanel> first = help.panel();
    ASSERT_TRUE(first);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first));
    first->move(first->pos() + QPoint(40, 0));
    help.show();
    EXPECT_EQ(help.panel(), first.data());
    int panels = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) panels += qobject_cast<HelpPanel*>(top) != nullptr ? 1 : 0;
    EXPECT_EQ(panels, 1);

    QTest::mouseClick(first->findChild<HudButton*>(QStringLiteral("helpPanelOkButton")), Qt::LeftButton);
    EXPECT_EQ(help.panel(), nullptr);
    settle();
    EXPECT_TRUE(first.isNull());

    help.show();
    HelpPanel* second = help.panel();
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(second));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((second->frameGeometry().center() - screen.center()).manhattanLength(), 2)
        << "a new panel, at the centre again";
}

TEST_F(ShellTest, TheOKButtonBrightensUnderThePointer) {
    HelpPanelController help;
    help.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(help.panel()));
    auto* ok = help.panel()->findChild<HudButton*>(QStringLiteral("helpPanelOkButton"));
    ASSERT_NE(ok, nullptr);
    const int idle = ok->grab().toImage().pixelColor(6, 16).red();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), ok->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(ok, &enter);
    EXPECT_TRUE(ok->isHovered());
    const int hovered = ok->grab().toImage().pixelColor(6, 16).red();
    EXPECT_GT(hovered, idle);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(ok, &leave);
    EXPECT_FALSE(ok->isHovered());
}

// --- menus ---------------------------------------------------------------------------------

class MenuTest : public ViewModelTest {
protected:
    void SetUp() override {
        configureApplication(widgetApplication());
        ViewModelTest::SetUp();
    }
    void TearDown() override {
        help.hide();
        window.reset();
        ViewModelTest::TearDown();
        settle();
    }

    QAction* action(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }

    HelpPanelController help;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MenuTest, TheMenusHoldTheCommandsWithTheirKeys) {
    window = std::make_unique<MainWindow>(dependencies());
    installMenus(*window, help, notifications);

    QStringList titles;
    for (QAction* entry : window->menuBar()->actions()) titles << entry->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("File"), QStringLiteral("Camera"), QStringLiteral("View"),
                                   QStringLiteral("Help")}));

    struct Item {
        const char* menu;
        const char* action;
        const char* text;
        const char* keys;  // empty: none
    };
    const std::vector<Item> items = {
        {"fileMenu", "openModelAction", "Open Model\u2026", "Ctrl+O"},
        {"fileMenu", "addVenueAction", "Add Venue\u2026", ""},
        {"fileMenu", "openVideoFileAction", "Open Video File\u2026", ""},
        {"fileMenu", "openImageAction", "Open Image\u2026", ""},
        {"fileMenu", "openRecentAction", "Open Recent", ""},
        {"fileMenu", "screenshotAction", "Screenshot", "Ctrl+Shift+S"},
        {"fileMenu", "toggleRecordingAction", "Start/Stop Recording", "Ctrl+Shift+R"},
        {"fileMenu", "showCaptureFolderAction", "Show Capture Folder", ""},
        {"fileMenu", "quitAction", "Quit", "Ctrl+Q"},
        {"cameraMenu", "toggleCameraLockAction", "Toggle Camera Lock", "Ctrl+L"},
        {"viewMenu", "toggleFloorGridAction", "Toggle Floor Grid", "Ctrl+G"},
        {"viewMenu", "fullScreenViewAction", "Full Screen 3D View", "F11"},
        {"viewMenu", "reloadFilesAction", "Reload", "F5"},
        {"viewMenu", "reloadWhenChangedAction", "Reload Files When Changed", ""},
        {"helpMenu", "keyboardShortcutsAction", "Keyboard Shortcuts\u2026", ""},
    };
    QHash<QString, QList<QAction*>> expected;
    for (const Item& item : items) {
        SCOPED_TRACE(item.action);
        QAction* found = action(item.action);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->text(), QString::fromUtf8(item.text));
        EXPECT_EQ(found->shortcut(), QKeySequence(QString::fromLatin1(item.keys)));
        expected[QString::fromLatin1(item.menu)] << found;
    }
    for (auto menu = expected.cbegin(); menu != expected.cend(); ++menu) {
        EXPECT_EQ(window->findChild<QMenu*>(menu.key())->actions(), menu.value()) << menu.key().toStdString();
    }
    EXPECT_NE(action("openRecentAction")->menu(), nullptr);

    // The check item and the view model's setting follow each other.
    QAction* reload = action("reloadWhenChangedAction");
    ViewerViewModel& vm = window->viewModel();
    ASSERT_TRUE(reload->isCheckable());
    EXPECT_EQ(reload->isChecked(), vm.reloadFilesWhenChanged());
    reload->trigger();
    EXPECT_EQ(reload->isChecked(), vm.reloadFilesWhenChanged());
    vm.setReloadFilesWhenChanged(!vm.reloadFilesWhenChanged());
    EXPECT_EQ(reload->isChecked(), vm.reloadFilesWhenChanged());
}

TEST_F(MenuTest, TheFileMenuOpensWhatThePanelsChooseAndOffersItAgainUnderOpenRecent) {
    window = std::make_unique<MainWindow>(dependencies());
    installMenus(*window, help, notifications);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ViewerViewModel& vm = window->viewModel();
    ASSERT_TRUE(pumpUntil([&] { return vm.isUITimerRunning(); }));

    const QString model = QString::fromStdString(writeFile("venue.obj", kSquareOBJ));
    // The sources are stand-ins: only the names matter.
    const QString movie = QString::fromStdString(writeFile("show.mp4", "movie"));
    const QString picture = QString::fromStdString(writeFile("still.jpg", "picture"));
    struct Case {
        const char* action;
        FilePickKind kind;
        QString file;
        std::function<bool()> opened;
    };
    const std::vector<Case> cases = {
        {"openModelAction", FilePickKind::model, model, [&] { return vm.objURL() == model && vm.mesh() != nullptr; }},
        {"openVideoFileAction", FilePickKind::videoFile, movie,
         [&] { return vm.fileURL() == movie && vm.sourceMode() == SourceMode::file; }},
        {"openImageAction", FilePickKind::imageFile, picture,
         [&] { return vm.imageURL() == picture && vm.sourceMode() == SourceMode::image; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        picker->answers[c.kind] = {{c.file}};
        action(c.action)->trigger();
        EXPECT_EQ(picker->asked.back(), c.kind);
        EXPECT_TRUE(pumpUntil(c.opened));
    }
    EXPECT_EQ(window->windowTitle(), QStringLiteral("venue.obj \u2014 Lumbrix"));

    // Newest first; a file that has gone since stays listed but cannot be chosen.
    std::filesystem::remove(movie.toStdString());
    QMenu* recent = action("openRecentAction")->menu();
    ASSERT_NE(recent, nullptr);
    emit recent->aboutToShow();
    QStringList names;
    QList<bool> enabled;
    for (QAction* entry : recent->actions()) {
        names << entry->text();
        enabled << entry->isEnabled();
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("still.jpg"), QStringLiteral("show.mp4"), QStringLiteral("venue.obj")}));
    EXPECT_EQ(enabled, (QList<bool>{true, false, true}));

    vm.clearModel();
    recent->actions().at(2)->trigger();
    EXPECT_TRUE(pumpUntil([&] { return vm.objURL() == model && vm.mesh() != nullptr; }));
}

TEST_F(MenuTest, EachCommandPostsItsNotificationAndTheOpenWindowActsOnIt) {
    window = std::make_unique<MainWindow>(dependencies());
    installMenus(*window, help, notifications);
    int gridPosts = 0;
    int lockPosts = 0;
    const auto gridToken = notifications.addObserver(kToggleFloorGridNotification, [&] { ++gridPosts; });
    const auto lockToken = notifications.addObserver(kToggleCameraLockNotification, [&] { ++lockPosts; });

    // Before the window shows nothing is listening for the grid but this test.
    action("toggleFloorGridAction")->trigger();
    EXPECT_EQ(gridPosts, 1);
    EXPECT_EQ(lockPosts, 0);

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ViewerViewModel& vm = window->viewModel();
    const bool grid = vm.showFloorGrid();
    action("toggleFloorGridAction")->trigger();
    EXPECT_EQ(vm.showFloorGrid(), !grid);
    action("toggleFloorGridAction")->trigger();
    EXPECT_EQ(vm.showFloorGrid(), grid) << "twice restores";
    EXPECT_EQ(gridPosts, 3);

    action("toggleCameraLockAction")->trigger();
    EXPECT_EQ(lockPosts, 1);
    EXPECT_TRUE(vm.isCameraLocked());
    EXPECT_TRUE(window->cameraLockBadge()->isVisible());
    action("toggleCameraLockAction")->trigger();
    EXPECT_FALSE(vm.isCameraLocked());
    EXPECT_FALSE(window->cameraLockBadge()->isVisible());

    action("keyboardShortcutsAction")->trigger();
    EXPECT_NE(help.panel(), nullptr);

    notifications.removeObserver(gridToken);
    notifications.removeObserver(lockToken);
}

TEST_F(MenuTest, TheKeysActOnceEachInTheActiveWindow) {
    window = std::make_unique<MainWindow>(dependencies());
    installMenus(*window, help, notifications);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ViewerViewModel& vm = window->viewModel();

    const bool grid = vm.showFloorGrid();
    QTest::keyClick(window.get(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(vm.showFloorGrid(), !grid);
    QTest::keyClick(window.get(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(vm.showFloorGrid(), grid);

    // The 3D view answers Ctrl+L itself; with the menu's key too the lock must still
    // turn over once per press, not twice.
    QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
    pumpFor(std::chrono::milliseconds(10));
    EXPECT_TRUE(vm.isCameraLocked());
    QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
    pumpFor(std::chrono::milliseconds(10));
    EXPECT_FALSE(vm.isCameraLocked());
}

TEST_F(MenuTest, F11ShowsThe3DViewAloneFullScreenAndEscapeOrF11ComeBack) {
    window = std::make_unique<MainWindow>(dependencies());
    installMenus(*window, help, notifications);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const QList<QWidget*> chrome = {window->menuBar(), window->sidebar(), window->transportBar()};
    const QRect before = window->geometry();
    const QRect screen = window->screen()->geometry();
    ASSERT_NE(before, screen);
    for (int leave : {Qt::Key_Escape, Qt::Key_F11}) {
        SCOPED_TRACE(leave == Qt::Key_Escape ? "Escape" : "F11");
        QTest::keyClick(window.get(), Qt::Key_F11);
        EXPECT_TRUE(window->isFullScreenView());
        EXPECT_TRUE(pumpUntil([&] { return window->isFullScreen() && window->geometry() == screen; }));
        for (QWidget* part : chrome) EXPECT_FALSE(part->isVisible()) << part->objectName().toStdString();
        EXPECT_TRUE(window->viewport()->isVisible());

        QTest::keyClick(window.get(), static_cast<Qt::Key>(leave));
        EXPECT_FALSE(window->isFullScreenView());
        EXPECT_TRUE(pumpUntil([&] { return !window->isFullScreen() && window->geometry() == before; }));
        for (QWidget* part : chrome) EXPECT_TRUE(part->isVisible()) << part->objectName().toStdString();
    }
    // Escape outside the full-screen view is left to whoever else wants it.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isFullScreen());
}

// A key is declared once, in the command table; the menu item, the help card's row and
// the 3D view's key map each read it back from there.
TEST_F(MenuTest, TheMenusTheHelpCardAndTheViewsKeysFollowTheCommandTable) {
    window = std::make_unique<MainWindow>(dependencies());
    installMenus(*window, help, notifications);

    size_t keyed = 0;
    for (const CommandSpec& spec : kCommands) {
        SCOPED_TRACE(spec.name);
        QAction* item = action((std::string(spec.name) + "Action").c_str());
        ASSERT_EQ(item != nullptr, spec.menu != nullptr);
        if (item != nullptr) {
            EXPECT_EQ(item->text(), QString::fromUtf8(spec.label));
            EXPECT_EQ(item->shortcut(), spec.hasKeys() ? QKeySequence(spec.keys) : QKeySequence());
        }
        if (!spec.hasKeys()) continue;
        ++keyed;

        const KeyboardShortcutsCard::Row* row = nullptr;
        for (const KeyboardShortcutsCard::Section& section : KeyboardShortcutsCard::sections()) {
            for (const KeyboardShortcutsCard::Row& candidate : section.rows) {
                if (section.title == QString::fromUtf8(spec.helpSection) &&
                    candidate.description == QString::fromUtf8(spec.helpDescription)) {
                    row = &candidate;
                }
            }
        }
        ASSERT_NE(row, nullptr) << "no help card row";
        // "Alt 0…9" names the keys Alt+0 stands for.
        QString keys = row->keys;
        keys.replace(QString::fromUtf8("0\u20269"), QStringLiteral("0")).replace(QLatin1Char(' '), QLatin1Char('+'));
        EXPECT_EQ(QKeySequence::fromString(keys, QKeySequence::PortableText), QKeySequence(spec.keys))
            << row->keys.toStdString();

        for (int slot = 0; slot < (spec.digitSlots ? 10 : 1); ++slot) {
            const std::optional<KeyCommand> answer =
                InteractionView::keyCommandFor(spec.keys.key() + slot, spec.keys.keyboardModifiers());
            ASSERT_TRUE(answer.has_value()) << "slot " << slot;
            EXPECT_EQ(answer->kind, spec.command);
            EXPECT_EQ(answer->slot, slot);
        }
    }
    size_t rows = 0;
    for (const KeyboardShortcutsCard::Section& section : KeyboardShortcutsCard::sections()) rows += section.rows.size();
    EXPECT_EQ(rows, keyed) << "the card has a row for each keyed command and nothing else";
}

// --- desktop install ----------------------------------------------------------------------

TEST_F(ShellTest, AnInstallPutsBothProgramsTheMenuEntryAndTheIconInPlace) {
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    ASSERT_FALSE(cmake.isEmpty()) << "cmake not on PATH";
    // The program lives in <build>/bin.
    const QString buildDir = QFileInfo(QStringLiteral(LUMBRIX_PROGRAM)).dir().absoluteFilePath(QStringLiteral(".."));
    const QString prefix = QString::fromStdString(folder.file("prefix"));

    QProcess install;
    install.start(cmake, {QStringLiteral("--install"), buildDir, QStringLiteral("--prefix"), prefix});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    for (const char* program : {"bin/Lumbrix", "bin/Varnel"}) {
        const QFileInfo info(prefix + QLatin1Char('/') + QLatin1String(program));
        EXPECT_TRUE(info.isFile() && info.isExecutable()) << program;
    }
    EXPECT_EQ(QFileInfo(prefix + QStringLiteral("/bin/Lumbrix")).size(),
              QFileInfo(QStringLiteral(LUMBRIX_PROGRAM)).size());

    QFile entry(prefix + QStringLiteral("/share/applications/lumbrix.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.value(0), QStringLiteral("[Desktop Entry]"));
    for (const char* line : {"Type=Application", "Name=Lumbrix", "Icon=lumbrix", "Categories=AudioVideo;Graphics;Viewer;"}) {
        EXPECT_TRUE(lines.contains(QLatin1String(line))) << line;
    }
    const auto exec = std::find_if(lines.begin(), lines.end(), [](const QString& l) { return l.startsWith("Exec="); });
    ASSERT_NE(exec, lines.end());
    EXPECT_EQ(exec->section(QLatin1Char(' '), 0, 0), QStringLiteral("Exec=Lumbrix"));

    const QImage icon(prefix + QStringLiteral("/share/icons/hicolor/256x256/apps/lumbrix.png"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(256, 256));
    EXPECT_EQ(icon.convertToFormat(QImage::Format_ARGB32), renderLumbrixIcon(256).convertToFormat(QImage::Format_ARGB32))
        << "the installed icon is the one the program draws";
}

}  // namespace
}  // namespace lumbrix::test
