// The main window around its view model: the two panes and the collapsible side panel,
// the camera-lock badge driven by the menu's notification, the model-import alert, and
// start-up and shutdown with the window.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include "tests/viewer/view_model_support.h"
#include "ui/main_window.h"
#include "ui/main_window_sidebar.h"
#include "ui/source_panel.h"
#include "ui/transport_bar.h"
#include "ui/viewport.h"

namespace lumbrix::test {
namespace {

QApplication& widgetApplication() {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Two objects and a pentagon: the loader reports both problems.
const char* kTwoProblemsOBJ =
    "o a\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 2 1 0\nvt 0 0\nf 1/1 2/1 3/1 4/1 5/1\n"
    "o b\nv 0 0 1\nv 1 0 1\nv 0 1 1\nf 6/1 7/1 8/1\n";

class WindowTest : public ViewModelTest {
protected:
    void SetUp() override {
        // Before the view-model support makes a core-only application.
        widgetApplication();
        ViewModelTest::SetUp();
    }

    void TearDown() override {
        window.reset();
        ViewModelTest::TearDown();
    }

    MainWindow& makeWindow() {
        window = std::make_unique<MainWindow>(dependencies());
        QObject::connect(&window->viewModel(), &ViewerViewModel::changed,
                         [this](ViewerViewModel::Field field) { changes.push_back(field); });
        return *window;
    }

    MainWindow& showWindow() {
        MainWindow& shown = window ? *window : makeWindow();
        shown.resize(1200, 800);
        shown.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&shown));
        pumpFor(std::chrono::milliseconds(20));
        return shown;
    }

    // Where `widget` sits in the window's coordinates.
    QRect placed(const QWidget* widget) const {
        return QRect(widget->mapTo(window.get(), QPoint(0, 0)), widget->size());
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, TheSidePanelSitsLeftOfTheViewWithTheTransportBarUnderTheView) {
    MainWindow& shown = showWindow();
    EXPECT_EQ(shown.windowTitle(), QStringLiteral("Lumbrix"));
    EXPECT_GE(shown.minimumWidth(), 800);
    EXPECT_GE(shown.minimumHeight(), 500);

    SidebarPane* sidebar = shown.sidebar();
    ASSERT_NE(sidebar, nullptr);
    ASSERT_NE(shown.findChild<Viewport*>(QStringLiteral("viewport")), nullptr);
    ASSERT_NE(shown.findChild<TransportBar*>(QStringLiteral("transportBar")), nullptr);
    SourcePanel* panel = shown.findChild<SourcePanel*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_NE(qobject_cast<QScrollArea*>(panel->parentWidget()->parentWidget()), nullptr)
        << "the long panel scrolls";

    const QRect side = placed(sidebar);
    const QRect view = placed(shown.viewport());
    const QRect bar = placed(shown.transportBar());
    EXPECT_EQ(side.width(), 300);
    EXPECT_TRUE(shown.viewport()->isVisible());
    EXPECT_TRUE(shown.transportBar()->isVisible());
    EXPECT_GE(view.left(), side.right());
    EXPECT_EQ(bar.left(), view.left());
    EXPECT_EQ(bar.width(), view.width());
    EXPECT_GE(bar.top(), view.bottom());
    EXPECT_EQ(view.width(), shown.centralWidget()->width() - 300) << "the view takes the rest";

    // The collapse chevron over the panel's top-right corner, inset 10.
    QAbstractButton* collapse = shown.findChild<QAbstractButton*>(QStringLiteral("sidebarCollapseButton"));
    ASSERT_NE(collapse, nullptr);
    EXPECT_TRUE(collapse->isVisible());
    const QRect button = placed(collapse);
    EXPECT_EQ(button.top() - side.top(), 10);
    EXPECT_EQ(side.right() - button.right(), 10);
}

TEST_F(WindowTest, CollapsingLeavesAStripAndExpandingRestoresThePanelWithItsSections) {
    MainWindow& shown = showWindow();
    ViewerViewModel& vm = shown.viewModel();
    vm.setIsModelExpanded(false);
    vm.setIsCaptureExpanded(true);
    const bool source = vm.isSourceExpanded();
    const bool venue = vm.isVenueExpanded();
    const int viewWidth = shown.viewport()->width();

    QAbstractButton* collapse = shown.findChild<QAbstractButton*>(QStringLiteral("sidebarCollapseButton"));
    ASSERT_NE(collapse, nullptr);
    QTest::mouseClick(collapse, Qt::LeftButton);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(vm.isSidebarCollapsed());
    EXPECT_EQ(shown.sidebar()->width(), 40);
    EXPECT_FALSE(collapse->isVisible());
    EXPECT_EQ(shown.viewport()->width(), viewWidth + 260) << "the view widens";

    QAbstractButton* expand = shown.findChild<QAbstractButton*>(QStringLiteral("sidebarExpandButton"));
    ASSERT_NE(expand, nullptr);
    ASSERT_TRUE(expand->isVisible());
    EXPECT_EQ(expand->mapTo(shown.sidebar(), QPoint(0, 0)), QPoint(10, 10));
    QTest::mouseClick(expand, Qt::LeftButton);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_FALSE(vm.isSidebarCollapsed());
    EXPECT_EQ(shown.sidebar()->width(), 300);
    EXPECT_EQ(shown.viewport()->width(), viewWidth);
    EXPECT_FALSE(vm.isModelExpanded());
    EXPECT_TRUE(vm.isCaptureExpanded());
    EXPECT_EQ(vm.isSourceExpanded(), source);
    EXPECT_EQ(vm.isVenueExpanded(), venue);

    // The flag is the one truth: a write from elsewhere moves the pane too.
    vm.setIsSidebarCollapsed(true);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(shown.sidebar()->width(), 40);
    EXPECT_TRUE(expand->isVisible());
}

TEST_F(WindowTest, TheLockNotificationTogglesTheBadgeOverTheViewsCorner) {
    MainWindow& shown = showWindow();
    QLabel* badge = shown.findChild<QLabel*>(QStringLiteral("cameraLockBadge"));
    ASSERT_NE(badge, nullptr);
    EXPECT_EQ(badge->text(), QStringLiteral("Camera Locked"));
    EXPECT_FALSE(badge->isVisible());

    notifications.post(kToggleCameraLockNotification);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(shown.viewModel().isCameraLocked());
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(badge->mapTo(shown.viewport()->parentWidget(), QPoint(0, 0)) -
                  shown.viewport()->mapTo(shown.viewport()->parentWidget(), QPoint(0, 0)),
              QPoint(10, 10));
    EXPECT_EQ(badge->font().pixelSize(), 12);
    EXPECT_EQ(badge->font().weight(), QFont::DemiBold);
    // Drawn over the view, not hidden under it.
    const QObjectList& stack = badge->parentWidget()->children();
    EXPECT_GT(stack.indexOf(badge), stack.indexOf(shown.viewport()));
    EXPECT_FALSE(badge->grab().isNull());

    notifications.post(kToggleCameraLockNotification);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_FALSE(shown.viewModel().isCameraLocked());
    EXPECT_FALSE(badge->isVisible());

    // The view's own shortcut writes the flag directly; the badge follows that too.
    shown.viewModel().setIsCameraLocked(true);
    EXPECT_TRUE(badge->isVisible());
}

TEST_F(WindowTest, AGoneWindowNoLongerListensForTheLockCommand) {
    const size_t before = notifications.observerCount();
    showWindow();
    EXPECT_GT(notifications.observerCount(), before);
    window->close();
    window.reset();
    EXPECT_EQ(notifications.observerCount(), before);
    notifications.post(kToggleCameraLockNotification);  // nothing left to reach
    pumpFor(std::chrono::milliseconds(10));
}

TEST_F(WindowTest, TheImportAlertListsEachMessageAfterABlankLineAndOKLowersTheFlag) {
    MainWindow& shown = showWindow();
    ViewerViewModel& vm = shown.viewModel();
    EXPECT_EQ(shown.validationAlert(), nullptr);

    vm.openOBJModel(QString::fromStdString(writeFile("problems.obj", kTwoProblemsOBJ)));
    ASSERT_EQ(vm.validationErrors().size(), 2);
    ASSERT_TRUE(vm.showValidationAlert());
    QMessageBox* alert = shown.validationAlert();
    ASSERT_NE(alert, nullptr);
    ASSERT_TRUE(pumpUntil([alert] { return alert->isVisible(); }));
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("Model import failed"));
    EXPECT_EQ(alert->text(), vm.validationErrors()[0] + QStringLiteral("\n\n") + vm.validationErrors()[1]);
    EXPECT_TRUE(alert->text().contains(QStringLiteral("multiple objects (2)")));
    ASSERT_EQ(alert->buttons().size(), 1);
    QAbstractButton* ok = alert->buttons().front();
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(shown.isVisible()) << "the alert does not block the window";

    QTest::mouseClick(ok, Qt::LeftButton);
    ASSERT_TRUE(pumpUntil([&] { return shown.validationAlert() == nullptr; }));
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_EQ(vm.validationErrors().size(), 2) << "only the flag is lowered";

    // A good load lowers the flag from the model side; a raised alert goes with it.
    vm.openOBJModel(QString::fromStdString(writeFile("problems2.obj", kTwoProblemsOBJ)));
    ASSERT_NE(shown.validationAlert(), nullptr);
    QPointer<QMessageBox> second = shown.validationAlert();
    vm.openOBJModel(QString::fromStdString(writeFile("good.obj", kSquareOBJ)));
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_EQ(shown.validationAlert(), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return second.isNull() || !second->isVisible(); }));
}

TEST_F(WindowTest, TheTitleNamesTheModelOnShow) {
    MainWindow& shown = showWindow();
    ViewerViewModel& vm = shown.viewModel();
    ASSERT_TRUE(pumpUntil([&] { return vm.isUITimerRunning(); }));
    struct Case {
        const char* file;
        const char* text;
        const char* title;
    };
    const std::vector<Case> cases = {
        {"venue.obj", kSquareOBJ, "venue.obj \u2014 Lumbrix"},
        {"broken.obj", kTwoProblemsOBJ, "Lumbrix"},  // nothing on show
        {"stage.obj", kSquareOBJ, "stage.obj \u2014 Lumbrix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_TRUE(vm.openFile(QString::fromStdString(writeFile(c.file, c.text))));
        EXPECT_EQ(shown.windowTitle(), QString::fromUtf8(c.title));
        vm.setShowValidationAlert(false);
    }
    vm.clearModel();
    EXPECT_EQ(shown.windowTitle(), QStringLiteral("Lumbrix"));
}

TEST_F(WindowTest, SizePlaceAndTheCollapsedSidePanelAreThereAgainAtTheNextStart) {
    const QRect placed(40, 60, 1000, 700);
    {
        MainWindow& first = makeWindow();
        first.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
        first.setGeometry(placed);
        ASSERT_TRUE(pumpUntil([&] { return first.geometry() == placed; }));
        ASSERT_TRUE(pumpUntil([&] { return first.viewModel().isUITimerRunning(); }));
        first.viewModel().setIsSidebarCollapsed(true);
        first.close();
        window.reset();
    }
    MainWindow& second = makeWindow();
    EXPECT_EQ(second.geometry(), placed) << "before it shows, so it never flashes elsewhere";
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    ASSERT_TRUE(pumpUntil([&] { return second.viewModel().isUITimerRunning(); }));
    EXPECT_EQ(second.geometry(), placed);
    EXPECT_TRUE(second.viewModel().isSidebarCollapsed());
    auto* strip = second.findChild<QWidget*>(QStringLiteral("sidebarStrip"));
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(strip->isVisible());
}

TEST_F(WindowTest, DroppedFilesOpenAsWhatTheyAreInTheirOrderAndTheRestSaySo) {
    MainWindow& shown = showWindow();
    ViewerViewModel& vm = shown.viewModel();
    ASSERT_TRUE(pumpUntil([&] { return vm.isUITimerRunning(); }));
    const auto local = [this](const char* name, const char* text) {
        return QUrl::fromLocalFile(QString::fromStdString(writeFile(name, text)));
    };
    const QUrl model = local("venue.obj", kSquareOBJ);
    const QUrl wall = local("wall.obj", kSquareOBJ);
    // The sources are stand-ins: only the names matter.
    const QUrl movie = local("show.MOV", "movie");
    const QUrl picture = local("still.png", "picture");
    const QUrl notes = local("notes.txt", "text");
    const QUrl folderUrl = QUrl::fromLocalFile(QString::fromStdString(folder.path().string()));
    const QUrl fbx = QUrl::fromLocalFile(testDataQ("generated/blender/bl_b_cube_uv.fbx"));

    enum class Place { view, venues };
    struct Case {
        const char* what;
        QList<QUrl> urls;
        Place place;
        Qt::KeyboardModifiers modifiers;
        std::function<bool()> done;
        QString message;  // empty: the capture line is left alone
    };
    const std::vector<Case> cases = {
        {"an OBJ", {model}, Place::view, Qt::NoModifier, [&] { return vm.objURL() == model.toLocalFile(); }, {}},
        {"an FBX", {fbx}, Place::view, Qt::NoModifier,
         [&] { return vm.fbxURL() == fbx.toLocalFile() && vm.modelKind() == ModelKind::fbx; }, {}},
        {"an OBJ with Shift held", {wall}, Place::view, Qt::ShiftModifier, [&] { return vm.venues().size() == 1; }, {}},
        {"an OBJ on the VENUE section", {wall}, Place::venues, Qt::NoModifier, [&] { return vm.venues().size() == 2; },
         {}},
        {"a movie, then a picture", {movie, picture}, Place::view, Qt::NoModifier,
         [&] {
             return vm.fileURL() == movie.toLocalFile() && vm.imageURL() == picture.toLocalFile() &&
                    vm.sourceMode() == SourceMode::image;
         },
         {}},
        {"a movie", {movie}, Place::view, Qt::NoModifier, [&] { return vm.sourceMode() == SourceMode::file; }, {}},
        {"a folder", {folderUrl}, Place::view, Qt::NoModifier, nullptr,
         QStringLiteral("Cannot open a folder: ") + QString::fromStdString(folder.path().filename().string())},
        {"an unknown file", {notes}, Place::view, Qt::NoModifier, nullptr,
         QStringLiteral("Not a model, movie or picture: notes.txt")},
        {"a web address", {QUrl(QStringLiteral("https://example.com/show.mp4"))}, Place::view, Qt::NoModifier, nullptr,
         QStringLiteral("Not a local file: https://example.com/show.mp4")},
    };
    QWidget* venueSection = shown.findChild<QWidget*>(QStringLiteral("venueSection"));
    ASSERT_NE(venueSection, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vm.setLastCaptureMessage(QStringLiteral("Ready."));
        const QPoint at = c.place == Place::venues ? venueSection->mapTo(&shown, QPoint(20, 10))
                                                   : shown.viewport()->mapTo(&shown, shown.viewport()->rect().center());
        QMimeData data;
        data.setUrls(c.urls);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::NoButton, c.modifiers);
        QApplication::sendEvent(&shown, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::NoButton, c.modifiers);
        QApplication::sendEvent(&shown, &drop);
        if (c.done) {
            EXPECT_TRUE(pumpUntil(c.done)) << vm.modelStatusText().toStdString();
        }
        EXPECT_EQ(vm.lastCaptureMessage(), c.message.isEmpty() ? QStringLiteral("Ready.") : c.message);
    }
}

TEST_F(WindowTest, TheFirstShowStartsTheViewModelOnceAndClosingStopsIt) {
    // A launch that never finished: start-up goes into safe mode and says so.
    store().setLaunchInProgress(true);
    MainWindow& shown = makeWindow();
    ViewerViewModel& vm = shown.viewModel();
    EXPECT_FALSE(vm.isUITimerRunning()) << "nothing runs before the window shows";
    EXPECT_TRUE(sources.made.empty());

    showWindow();
    // Start-up follows the 3D view's "Ready.", so its notice is what the line keeps.
    ASSERT_TRUE(pumpUntil([&] { return vm.isUITimerRunning(); }));
    EXPECT_NE(shown.viewport()->renderer(), nullptr);
    EXPECT_EQ(vm.lastCaptureMessage(),
              QStringLiteral("Safe Mode: last model cleared (previous launch did not finish)."));
    EXPECT_FALSE(store().launchInProgress());
    EXPECT_TRUE(vm.isUITimerRunning());
    EXPECT_TRUE(vm.isObservingFloorGridToggle());
    ASSERT_EQ(sources.made.size(), 1u);

    // Hiding and showing again (a minimise, a desktop switch) is no new start-up.
    shown.hide();
    showWindow();
    EXPECT_EQ(sources.made.size(), 1u);

    shown.close();
    EXPECT_FALSE(vm.isUITimerRunning());
    EXPECT_FALSE(vm.isObservingFloorGridToggle());
    EXPECT_EQ(sources.made[0]->stops, 1);
    EXPECT_FALSE(store().launchInProgress());

    // Destroying the closed window runs no second shutdown, which would lower the
    // flag that another start-up has raised meanwhile.
    store().setLaunchInProgress(true);
    window.reset();
    EXPECT_TRUE(store().launchInProgress());
}

TEST_F(WindowTest, AWindowDestroyedWithoutACloseStillStopsItsViewModel) {
    showWindow();
    ASSERT_EQ(sources.made.size(), 1u);
    EXPECT_TRUE(window->viewModel().isObservingFloorGridToggle());
    store().setLaunchInProgress(true);
    window.reset();
    EXPECT_GE(sources.made[0]->stops, 1);
    EXPECT_FALSE(store().launchInProgress());
}

}  // namespace
}  // namespace lumbrix::test
