// The NDI controls against live senders: the real receiver on the fake NDI runtime,
// loaded the way the program loads NDI.
#include <stdlib.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "tests/fake_ndi/fake_ndi_control.h"
#include "tests/ui/panel_test_support.h"
#include "ui/panel_extra_ips_dialog.h"
#include "ui/panel_segmented_picker.h"
#include "ui/source_panel.h"

namespace lumbrix::test {
namespace {

class PanelNDITest : public PanelTest {
protected:
    void SetUp() override {
        ::setenv("NDI_RUNTIME_DIR_V6", LUMBRIX_FAKE_NDI_DIR, 1);
        ::setenv("FAKE_NDI_MAX_WAIT_MS", "20", 1);
        ::setenv("FAKE_NDI_SENDERS", "Stage Left@64x36@30;Stage Right@1920x1080@30", 1);
        PanelTest::SetUp();
    }

    QStringList items(const QComboBox* combo) {
        QStringList out;
        for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
        return out;
    }
};

TEST_F(PanelNDITest, SendersAreListedAndChoosingOneConnectsAndShowsItsFrameSize) {
    auto deps = dependencies();
    deps.receiver = NDIReceiver::create(deps.mainQueue);
    ViewerViewModel& vm = make(std::move(deps));
    show(std::make_unique<SourcePanel>(vm));
    vm.activate();
    auto* senders = find<QComboBox>(QStringLiteral("ndiSenderPicker"));
    ASSERT_TRUE(pumpUntil([&] { return senders->count() == 3; })) << items(senders).join(", ").toStdString();
    EXPECT_EQ(items(senders), (QStringList{QString::fromUtf8("—"), QStringLiteral("Stage Left"),
                                           QStringLiteral("Stage Right")}));
    EXPECT_EQ(senders->currentIndex(), 0);
    const size_t sourcesBefore = sources.made.size();

    // The user picks the second sender.
    senders->setCurrentIndex(2);
    emit senders->activated(2);
    ASSERT_TRUE(pumpUntil([&] { return vm.receiver()->selectedIndex() == 1; }));
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("NDI: Stage Right"));
    // The source is built again on the new connection.
    EXPECT_EQ(sources.made.size(), sourcesBefore + 1);
    auto* size = find<QLabel>(QStringLiteral("frameSizeLabel"));
    ASSERT_TRUE(pumpUntil([&] { return size->text() == QString::fromUtf8("1920×1080"); }))
        << size->text().toStdString();
    EXPECT_EQ(senders->currentIndex(), 2);
    vm.deactivate();
}

TEST_F(PanelNDITest, ShowsTheRuntimesCountsTakesBandwidthAndExtraIPsAndExplainsAnEmptyList) {
    using namespace std::chrono_literals;
    FakeNdiControl fake(LUMBRIX_FAKE_NDI_DIR);
    ASSERT_TRUE(fake.loaded()) << fake.error();
    FakeNdiRecvCounts counts{};
    counts.dropped.video_frames = 12;
    counts.queue.video_frames = 2;
    fake.setRecvCounts(&counts);
    auto deps = dependencies();
    deps.receiver = NDIReceiver::create(
        deps.mainQueue, {},
        {.statsInterval = 100ms, .quietDelay = 0ms, .avahiSocketPath = folder.file("no-avahi-here")});
    ViewerViewModel& vm = make(std::move(deps));
    show(std::make_unique<SourcePanel>(vm));
    vm.activate();
    auto* senders = find<QComboBox>(QStringLiteral("ndiSenderPicker"));
    ASSERT_TRUE(pumpUntil([&] { return senders->count() == 3; }));
    auto* stats = find<QLabel>(QStringLiteral("ndiStatsLabel"));
    EXPECT_FALSE(stats->isVisible()) << "no connection, no numbers";
    emit senders->activated(1);

    ASSERT_TRUE(pumpUntil([&] { return stats->isVisible() && stats->text().contains(QStringLiteral("12 dropped")); }))
        << stats->text().toStdString();
    EXPECT_TRUE(stats->text().contains(QStringLiteral("2 queued"))) << stats->text().toStdString();

    auto* bandwidth = find<SegmentedPicker>(QStringLiteral("ndiBandwidthPicker"));
    QTest::mouseClick(bandwidth->button(1), Qt::LeftButton);
    ASSERT_TRUE(fake.lastRecvSettings().has_value());
    EXPECT_EQ(fake.lastRecvSettings()->bandwidth, NDIlib_recv_bandwidth_lowest);
    EXPECT_STREQ(fake.lastRecvSettings()->source_name, "Stage Left");
    EXPECT_EQ(store().loadNDIBandwidth(), NDIBandwidth::lowest);

    QTest::mouseClick(find<QPushButton>(QStringLiteral("extraIPsButton")), Qt::LeftButton);
    QPointer<ExtraIPsDialog> dialog = widget->findChild<ExtraIPsDialog*>();
    ASSERT_TRUE(dialog);
    auto* typed = control<QLineEdit>(dialog, QStringLiteral("extraIPsEdit"));
    auto* problem = control<QLabel>(dialog, QStringLiteral("extraIPsProblem"));
    typed->setText(QStringLiteral("10.0.0.300"));
    dialog->accept();
    EXPECT_TRUE(dialog->isVisible()) << "a refused list stays for correction";
    EXPECT_TRUE(problem->isVisible());
    EXPECT_TRUE(problem->text().contains(QStringLiteral("10.0.0.300"))) << problem->text().toStdString();
    typed->setText(QStringLiteral(" 10.0.0.5 "));
    dialog->accept();
    EXPECT_TRUE(!dialog || !dialog->isVisible());
    EXPECT_STREQ(fake.lastFindSettings()->extra_ips, "10.0.0.5");

    auto* hint = find<QLabel>(QStringLiteral("ndiHintLabel"));
    EXPECT_FALSE(hint->isVisible());
    fake.setSenders("");
    EXPECT_TRUE(pumpUntil([&] { return hint->isVisible(); }));
    EXPECT_TRUE(hint->text().contains(QStringLiteral("avahi-daemon) is not running"))) << hint->text().toStdString();

    vm.deactivate();
    fake.reset();  // the next test's senders and counts come from the environment again
}

}  // namespace
}  // namespace lumbrix::test
