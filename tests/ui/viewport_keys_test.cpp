// The camera shortcuts work wherever the keyboard focus is in the application, win
// over a menu action bound to the same keys, pass every other key on, and stop when
// the view leaves its window.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <QVBoxLayout>

#include "tests/ui/viewport_test_support.h"
#include "ui/interaction_view.h"
#include "ui/viewport.h"

namespace lumbrix::test {
namespace {

// A window as the application builds it: a menu with the lock command, the view, and
// a text field that holds the keyboard focus.
class ViewportKeysTest : public ViewportTest {
protected:
    void SetUp() override {
        ViewportTest::SetUp();
        model = std::make_unique<ViewerViewModel>(dependencies());
        window = std::make_unique<QMainWindow>();
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        field = new QLineEdit;
        viewport = new Viewport(*model);
        layout->addWidget(field);
        layout->addWidget(viewport, 1);
        window->setCentralWidget(central);
        QAction* lock = window->menuBar()->addMenu(QStringLiteral("View"))->addAction(QStringLiteral("Lock Camera"));
        lock->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
        QObject::connect(lock, &QAction::triggered, [this] {
            ++menuLockTriggers;
            model->setIsCameraLocked(!model->isCameraLocked());
        });
        window->resize(480, 320);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        field->setFocus();
        ASSERT_TRUE(pumpUntil([&] { return field->hasFocus(); }));
    }

    void TearDown() override {
        window.reset();
        model.reset();
    }

    // To the focused widget, as the window system delivers keys.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused != nullptr ? focused : window.get(), key, modifiers);
    }

    std::unique_ptr<ViewerViewModel> model;
    std::unique_ptr<QMainWindow> window;
    QLineEdit* field = nullptr;
    Viewport* viewport = nullptr;
    int menuLockTriggers = 0;
};

TEST_F(ViewportKeysTest, CtrlLTogglesTheLockOnceAndTheMenuActionStaysQuiet) {
    EXPECT_TRUE(viewport->interaction().hasKeyMonitor());
    press(Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(model->isCameraLocked());
    EXPECT_EQ(menuLockTriggers, 0);
    press(Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(model->isCameraLocked());
    EXPECT_EQ(menuLockTriggers, 0);

    press(Qt::Key_L);
    EXPECT_FALSE(model->isCameraLocked());
    EXPECT_EQ(field->text(), QStringLiteral("l")) << "a plain L goes to the focused field";
}

TEST_F(ViewportKeysTest, CtrlDigitSavesAndAltDigitRecalls) {
    model->camera()->orbit(40, 20);
    const CameraState current = model->camera()->snapshot();
    press(Qt::Key_0, Qt::ControlModifier);
    ASSERT_TRUE(model->persistence().loadCameraPreset(0).has_value());
    EXPECT_FLOAT_EQ(model->persistence().loadCameraPreset(0)->yaw, current.yaw);
    EXPECT_FLOAT_EQ(model->persistence().loadCameraPreset(0)->pitch, current.pitch);

    // Ctrl is tested first: Ctrl+Alt saves rather than recalls.
    press(Qt::Key_3, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(model->persistence().loadCameraPreset(3).has_value());

    CameraState stored;
    stored.position = {0, 0, 5};
    stored.target = {0, 0, 0};
    stored.fov = 30;
    model->persistence().saveCameraPreset(9, stored);
    press(Qt::Key_9, Qt::AltModifier);
    const Float3 eye = model->camera()->eyePosition();
    EXPECT_NEAR(eye.z, 5.0f, 1e-4f);
    EXPECT_NEAR(eye.x, 0.0f, 1e-4f);
    EXPECT_EQ(model->fovDegrees(), 30.0f);
    EXPECT_EQ(model->camera()->fovDegrees, 30.0f);

    // An empty slot changes nothing.
    press(Qt::Key_7, Qt::AltModifier);
    EXPECT_NEAR(model->camera()->eyePosition().z, 5.0f, 1e-4f);
    EXPECT_TRUE(field->text().isEmpty());
}

TEST_F(ViewportKeysTest, MetaAndPlainDigitsPassOn) {
    press(Qt::Key_4, Qt::MetaModifier);
    press(Qt::Key_4);
    EXPECT_FALSE(model->persistence().loadCameraPreset(4).has_value());
    EXPECT_EQ(field->text(), QStringLiteral("44")) << "both reach the field";
}

TEST_F(ViewportKeysTest, KeysStopReachingTheViewOnceItIsHiddenOrGone) {
    viewport->hide();
    EXPECT_FALSE(viewport->interaction().hasKeyMonitor());
    press(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(menuLockTriggers, 1) << "the menu action answers once the view is away";
    EXPECT_TRUE(model->isCameraLocked());
    press(Qt::Key_5, Qt::ControlModifier);
    EXPECT_FALSE(model->persistence().loadCameraPreset(5).has_value());

    viewport->show();
    EXPECT_TRUE(viewport->interaction().hasKeyMonitor());
    press(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(menuLockTriggers, 1);
    EXPECT_FALSE(model->isCameraLocked());

    delete viewport;
    viewport = nullptr;
    press(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(menuLockTriggers, 2);
    press(Qt::Key_6, Qt::ControlModifier);
    EXPECT_FALSE(model->persistence().loadCameraPreset(6).has_value());
}

TEST(InteractionKeyMap, CommandsForKeys) {
    using Kind = KeyCommand::Kind;
    EXPECT_EQ(InteractionView::keyCommandFor(Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier)->kind,
              Kind::toggleCameraLock);
    EXPECT_FALSE(InteractionView::keyCommandFor(Qt::Key_L, Qt::AltModifier));
    EXPECT_FALSE(InteractionView::keyCommandFor(Qt::Key_K, Qt::ControlModifier));
    EXPECT_EQ(InteractionView::keyCommandFor(Qt::Key_7, Qt::AltModifier | Qt::KeypadModifier)->slot, 7);
    EXPECT_EQ(InteractionView::keyCommandFor(Qt::Key_7, Qt::AltModifier)->kind, Kind::recallPreset);
    EXPECT_FALSE(InteractionView::keyCommandFor(Qt::Key_Exclam, Qt::ControlModifier));
}

}  // namespace
}  // namespace lumbrix::test
