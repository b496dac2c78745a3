// The transport bar against a view model on fakes: the time texts, when the timeline is
// offered, scrubbing with the mouse, play/pause and loop.
#include <cmath>

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include "tests/ui/panel_test_support.h"
#include "ui/transport_bar.h"

namespace lumbrix::test {
namespace {

TEST(TransportTimeTest, SecondsRoundHalfAwayFromZeroAndMinutesAreNotWrapped) {
    EXPECT_EQ(transportTimeText(59.5), QStringLiteral("01:00"));
    EXPECT_EQ(transportTimeText(0.4), QStringLiteral("00:00"));
    EXPECT_EQ(transportTimeText(0.5), QStringLiteral("00:01"));
    EXPECT_EQ(transportTimeText(2.5), QStringLiteral("00:03"));
    EXPECT_EQ(transportTimeText(125.4), QStringLiteral("02:05"));
    EXPECT_EQ(transportTimeText(3725), QStringLiteral("62:05"));
    EXPECT_EQ(transportTimeText(6000), QStringLiteral("100:00"));
    EXPECT_EQ(transportTimeText(-3.0), QStringLiteral("00:00"));
    EXPECT_EQ(transportTimeText(-0.6), QStringLiteral("00:00"));
    EXPECT_EQ(transportTimeText(std::nan("")), QStringLiteral("--:--"));
}

TEST(TransportTimeTest, OnlyAVideoFileLongerThanAHundredthOfASecondHasATimeline) {
    EXPECT_TRUE(transportCanScrub(SourceMode::file, 125.4));
    EXPECT_FALSE(transportCanScrub(SourceMode::file, 0.01));
    EXPECT_FALSE(transportCanScrub(SourceMode::file, 0.005));
    EXPECT_FALSE(transportCanScrub(SourceMode::ndi, 125.4));
    EXPECT_FALSE(transportCanScrub(SourceMode::image, 125.4));
}

class TransportBarTest : public PanelTest {
protected:
    TransportBar& bar() {
        if (!model) make();
        if (!bar_) bar_ = &show(std::make_unique<TransportBar>(*model));
        return *bar_;
    }
    ViewerViewModel& vm() {
        if (!model) make();
        return *model;
    }
    QString text(const QString& name) { return find<QLabel>(name)->text(); }
    QSlider* slider() { return find<QSlider>("scrubSlider"); }
    double rowOpacity() {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(find<QWidget>("scrubRow")->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    }
    // A video file of `duration` seconds as the interface timer reports it.
    std::shared_ptr<FakeSource> playFile(double duration) {
        vm().setVideoFile(QStringLiteral("/media/shows/opening.mov"));
        vm().selectSourceMode(SourceMode::file);
        vm().setDurationSeconds(duration);
        vm().setScrubSeconds(0.0);
        return sources.made.back();
    }

    // Mouse events straight to the slider, at its knob.
    QPoint knobCentre() {
        QStyleOptionSlider option;
        option.initFrom(slider());
        option.orientation = slider()->orientation();
        option.minimum = slider()->minimum();
        option.maximum = slider()->maximum();
        option.sliderPosition = slider()->sliderPosition();
        option.sliderValue = slider()->value();
        option.subControls = QStyle::SC_SliderHandle;
        return slider()->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider()).center();
    }
    void mouse(QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(at), slider()->mapToGlobal(QPointF(at)), Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(slider(), &event);
    }

    TransportBar* bar_ = nullptr;
};

TEST_F(TransportBarTest, ControlsRowHasItsFixedWidthsOnBlack) {
    bar();
    EXPECT_EQ(bar().palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_TRUE(bar().autoFillBackground());
    EXPECT_EQ(find<QWidget>("transportGroup")->width(), 220);
    EXPECT_EQ(find<QPushButton>("playPauseButton")->width(), 86);
    EXPECT_EQ(find<QLabel>("sourceStatusLabel")->width(), 360);
    EXPECT_EQ(find<QLabel>("elapsedLabel")->width(), 60);
    EXPECT_EQ(find<QLabel>("remainingLabel")->width(), 72);
    bool titled = false;
    for (auto* label : bar().findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("TRANSPORT")) titled = label->width() == 110;
    }
    EXPECT_TRUE(titled);
    EXPECT_EQ(find<QCheckBox>("loopSwitch")->text(), QStringLiteral("Loop"));
}

TEST_F(TransportBarTest, FileTimelineShowsElapsedAndRemaining) {
    playFile(125.4);
    bar();
    EXPECT_EQ(text("elapsedLabel"), QStringLiteral("00:00"));
    EXPECT_EQ(text("remainingLabel"), QStringLiteral("-02:05"));
    EXPECT_TRUE(find<QWidget>("scrubRow")->isEnabled());
    EXPECT_DOUBLE_EQ(rowOpacity(), 1.0);
    EXPECT_EQ(slider()->minimum(), 0);
    EXPECT_EQ(slider()->maximum(), 125400);

    vm().setScrubSeconds(59.5);
    EXPECT_EQ(text("elapsedLabel"), QStringLiteral("01:00"));
    EXPECT_EQ(text("remainingLabel"), QStringLiteral("-01:06"));  // 65.9 s
    EXPECT_EQ(slider()->value(), 59500);
    vm().setScrubSeconds(130.0);  // past the end: nothing negative
    EXPECT_EQ(text("remainingLabel"), QStringLiteral("-00:00"));
}

TEST_F(TransportBarTest, StreamsStillsAndTinyFilesHaveNoTimeline) {
    vm().setDurationSeconds(125.4);
    vm().setScrubSeconds(30.0);
    bar();
    for (const SourceMode mode : {SourceMode::ndi, SourceMode::image}) {
        vm().selectSourceMode(mode);
        EXPECT_EQ(text("elapsedLabel"), QStringLiteral("00:00"));
        EXPECT_EQ(text("remainingLabel"), QStringLiteral("-00:00"));
        EXPECT_FALSE(slider()->isEnabled());
        EXPECT_DOUBLE_EQ(rowOpacity(), 0.45);
    }

    playFile(0.005);
    EXPECT_EQ(text("remainingLabel"), QStringLiteral("-00:00"));
    EXPECT_FALSE(slider()->isEnabled());
    EXPECT_DOUBLE_EQ(rowOpacity(), 0.45);
    EXPECT_EQ(slider()->maximum(), 10);  // the 0.01 s floor

    // Pressing a disabled slider starts nothing.
    mouse(QEvent::MouseButtonPress, knobCentre(), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, knobCentre(), Qt::NoButton);
    EXPECT_FALSE(vm().isScrubbing());
    EXPECT_TRUE(sources.made.back()->seeks.empty());

    vm().setDurationSeconds(12.0);
    EXPECT_TRUE(slider()->isEnabled());
    EXPECT_DOUBLE_EQ(rowOpacity(), 1.0);
}

TEST_F(TransportBarTest, DraggingScrubsWhileHeldAndSeeksOnceOnRelease) {
    const auto file = playFile(100.0);
    bar();
    const QPoint start = knobCentre();
    mouse(QEvent::MouseButtonPress, start, Qt::LeftButton);
    EXPECT_TRUE(vm().isScrubbing());

    const int width = slider()->width();
    mouse(QEvent::MouseMove, start + QPoint(width / 4, 0), Qt::LeftButton);
    const double firstStop = vm().scrubSeconds();
    EXPECT_GT(firstStop, 0.0);
    mouse(QEvent::MouseMove, start + QPoint(width / 2, 0), Qt::LeftButton);
    EXPECT_GT(vm().scrubSeconds(), firstStop);
    EXPECT_TRUE(vm().isScrubbing());
    EXPECT_TRUE(file->seeks.empty());
    EXPECT_EQ(text("elapsedLabel"), transportTimeText(vm().scrubSeconds()));

    mouse(QEvent::MouseButtonRelease, start + QPoint(width / 2, 0), Qt::NoButton);
    EXPECT_FALSE(vm().isScrubbing());
    ASSERT_EQ(file->seeks.size(), 1u);
    EXPECT_DOUBLE_EQ(file->seeks.front(), vm().scrubSeconds());
}

TEST_F(TransportBarTest, AKeyboardStepSeeksLikeAShortDrag) {
    const auto file = playFile(100.0);
    bar();
    slider()->setFocus();
    QTest::keyClick(slider(), Qt::Key_End);
    EXPECT_FALSE(vm().isScrubbing());
    EXPECT_DOUBLE_EQ(vm().scrubSeconds(), 100.0);
    EXPECT_EQ(file->seeks, std::vector<double>{100.0});
}

TEST_F(TransportBarTest, PlayPauseAndLoopHandTheirFlagToTheSource) {
    vm().selectSourceMode(SourceMode::ndi);
    const auto source = sources.made.back();
    source->calls.clear();
    bar();
    auto* play = find<QPushButton>("playPauseButton");
    auto* loop = find<QCheckBox>("loopSwitch");
    EXPECT_EQ(play->text(), QStringLiteral("Pause"));
    EXPECT_TRUE(loop->isChecked());

    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_FALSE(vm().isPlaying());
    EXPECT_EQ(play->text(), QStringLiteral("Play"));
    clickCheckBox(loop);
    EXPECT_FALSE(vm().isLooping());
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_EQ(play->text(), QStringLiteral("Pause"));
    EXPECT_EQ(source->calls, (std::vector<std::string>{"pause", "once", "play"}));

    vm().setIsLooping(true);
    EXPECT_TRUE(loop->isChecked());
    vm().setIsPlaying(false);
    EXPECT_EQ(play->text(), QStringLiteral("Play"));
}

TEST_F(TransportBarTest, StatusNamesWhatPlaysAndLongNamesLoseTheirMiddle) {
    bar();
    auto* status = find<QLabel>("sourceStatusLabel");
    EXPECT_EQ(status->text(), QStringLiteral("NDI: none"));
    vm().selectSourceMode(SourceMode::file);
    EXPECT_EQ(status->text(), QStringLiteral("File: none"));
    vm().selectSourceMode(SourceMode::image);
    EXPECT_EQ(status->text(), QStringLiteral("Image: none"));

    const QString longName = QStringLiteral("opening_") + QString(200, QLatin1Char('x')) + QStringLiteral("_final.mov");
    vm().setVideoFile(QStringLiteral("/media/") + longName);
    vm().selectSourceMode(SourceMode::file);
    EXPECT_EQ(status->toolTip(), longName);
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("opening_")));
    EXPECT_TRUE(status->text().endsWith(QStringLiteral("_final.mov")));
    EXPECT_TRUE(status->text().contains(QChar(0x2026)));
}

}  // namespace
}  // namespace lumbrix::test
