#pragma once
// What the panel suites share: a widget application, a view model on fakes (the view
// model suites' fixture) and a way to reach a panel's controls by their object names,
// as the window and the end-to-end tests do.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QWidget>

#include "tests/viewer/view_model_support.h"

namespace lumbrix::test {

// Must exist before the view model suites' helper would make a Core-only application.
inline QApplication& widgetApplication() {
    static int argc = 1;
    static char name[] = "panel_tests";
    static char* argv[] = {name, nullptr};
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A control by object name under `root`; a missing one fails the test (as an exception,
// so the test stops instead of crashing).
template <typename T>
T* control(const QWidget* root, const QString& name) {
    T* found = root->findChild<T*>(name);
    if (found == nullptr) throw std::runtime_error("no control named " + name.toStdString());
    return found;
}

// Clicks a check box where it takes clicks: its box and label, not the empty width a
// layout may have given it.
inline void clickCheckBox(QCheckBox* box) {
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    option.icon = box->icon();
    option.iconSize = box->iconSize();
    const QRect clickable = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, clickable.center());
}

class PanelTest : public ViewModelTest {
protected:
    void SetUp() override {
        // The microphone opens SDL's capture device; the dummy driver needs no hardware.
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        widgetApplication();
        ViewModelTest::SetUp();
    }

    void TearDown() override {
        // Widgets hold the view model by reference: they go first.
        widget.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ViewModelTest::TearDown();
    }

    // `made` shown on screen, kept until the test ends.
    template <typename T>
    T& show(std::unique_ptr<T> made) {
        T& shown = *made;
        widget = std::move(made);
        widget->resize(widget->sizeHint().expandedTo(QSize(320, 200)));
        widget->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
        return shown;
    }

    template <typename T>
    T* find(const QString& name) const {
        return control<T>(widget.get(), name);
    }

    std::unique_ptr<QWidget> widget;
};

}  // namespace lumbrix::test
