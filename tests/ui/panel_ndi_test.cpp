// The NDI controls against live senders: the real receiver on the fake NDI runtime,
// loaded the way the program loads NDI.
#include <stdlib.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "tests/ui/panel_test_support.h"
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

}  // namespace
}  // namespace lumbrix::test
