// The SOURCE section's NDI choices through the view model: into the real receiver on
// the fake runtime, and back from the store on the next start.
#include <stdlib.h>

#include "tests/fake_ndi/fake_ndi_control.h"
#include "tests/viewer/view_model_support.h"
#include "viewer/ndi_choices.h"

namespace lumbrix::test {
namespace {

TEST_F(ViewModelTest, NDIChoicesReachTheRuntimeAndComeBackOnTheNextStart) {
    ::setenv("NDI_RUNTIME_DIR_V6", LUMBRIX_FAKE_NDI_DIR, 1);
    ::setenv("FAKE_NDI_MAX_WAIT_MS", "20", 1);
    ::setenv("FAKE_NDI_SENDERS", "Stage@16x16@30", 1);
    FakeNdiControl fake;
    ASSERT_TRUE(fake.loaded()) << fake.error();
    fake.reset();
    auto start = [&]() -> ViewerViewModel& {
        auto deps = dependencies();
        deps.receiver = NDIReceiver::create(deps.mainQueue);
        ViewerViewModel& vm = make(std::move(deps));
        vm.activate();
        EXPECT_TRUE(pumpUntil([&] { return vm.receiver()->sources().size() == 1; }));
        return vm;
    };

    ViewerViewModel& first = start();
    const auto refused = chooseNDIExtraIPs(first, QStringLiteral("10.0.0.5, studio b"));
    ASSERT_TRUE(refused.has_value());
    EXPECT_TRUE(refused->contains(QStringLiteral("studio b"))) << refused->toStdString();
    EXPECT_EQ(fake.counter("find_create_calls"), 1) << "a refused list leaves the finder alone";
    EXPECT_FALSE(chooseNDIExtraIPs(first, QStringLiteral(" 10.0.0.5 , studio-b.local ")).has_value());
    EXPECT_STREQ(fake.lastFindSettings()->extra_ips, "10.0.0.5,studio-b.local");
    chooseNDIBandwidth(first, NDIBandwidth::lowest);
    first.deactivate();
    model.reset();

    fake.reset();
    ViewerViewModel& second = start();
    EXPECT_EQ(fake.counter("find_create_calls"), 1) << "the restored list is in the first finder";
    EXPECT_STREQ(fake.lastFindSettings()->extra_ips, "10.0.0.5,studio-b.local");
    second.receiver()->connect(0);
    ASSERT_TRUE(fake.lastRecvSettings().has_value());
    EXPECT_EQ(fake.lastRecvSettings()->bandwidth, NDIlib_recv_bandwidth_lowest);
    second.deactivate();
}

TEST_F(ViewModelTest, AVenuesOwnSenderIsFoundByNameOnAReceiverOfItsOwnAndPlaysNoSound) {
    ::setenv("NDI_RUNTIME_DIR_V6", LUMBRIX_FAKE_NDI_DIR, 1);
    ::setenv("FAKE_NDI_MAX_WAIT_MS", "20", 1);
    ::setenv("FAKE_NDI_SENDERS", "Stage@16x16@30;Side@32x16@30@440", 1);
    FakeNdiControl fake;
    ASSERT_TRUE(fake.loaded()) << fake.error();
    fake.reset();
    auto deps = dependencies();
    deps.receiver = NDIReceiver::create(deps.mainQueue);
    deps.sourceMakers.namedSender = {};  // the real one
    ViewerViewModel& vm = make(std::move(deps));
    vm.activate();
    // The SOURCE section's choices hold for the venue's receiver too: a sender only the
    // extra addresses reach must be found by its finder.
    chooseNDIBandwidth(vm, NDIBandwidth::lowest);
    EXPECT_FALSE(chooseNDIExtraIPs(vm, QStringLiteral("10.0.0.9")).has_value());
    ASSERT_TRUE(vm.addVenue(QString::fromStdString(writeFile("side.obj", kSquareOBJ))));
    VenueContentSetting content;
    content.kind = VenueContentKind::ownSource;
    content.sourceMode = SourceMode::ndi;
    content.sender = QStringLiteral("Side");
    vm.setVenueContent(vm.venues()[0].id, content);

    ASSERT_NE(vm.venues()[0].source, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return fake.counter("receivers_live") == 1; }));
    EXPECT_STREQ(fake.lastRecvSettings()->source_name, "Side");
    EXPECT_EQ(fake.lastRecvSettings()->bandwidth, NDIlib_recv_bandwidth_lowest);
    EXPECT_STREQ(fake.lastFindSettings()->extra_ips, "10.0.0.9");
    EXPECT_EQ(vm.venues()[0].source->sound(), nullptr);
    EXPECT_TRUE(pumpUntil([&] { return fake.counter("video_frames") > 0; }));

    // A change of choice makes the venue's receiver again with it.
    const int connectsBefore = fake.counter("recv_create_calls");
    chooseNDIBandwidth(vm, NDIBandwidth::highest);
    ASSERT_TRUE(pumpUntil([&] { return fake.counter("recv_create_calls") > connectsBefore; }));
    EXPECT_EQ(fake.lastRecvSettings()->bandwidth, NDIlib_recv_bandwidth_highest);
    EXPECT_STREQ(fake.lastFindSettings()->extra_ips, "10.0.0.9");
    EXPECT_TRUE(pumpUntil([&] { return fake.counter("receivers_live") == 1; })) << "the old one is shut down";

    vm.removeVenue(vm.venues()[0].id);
    EXPECT_TRUE(pumpUntil([&] { return fake.counter("receivers_live") == 0; }));
    vm.deactivate();
}

}  // namespace
}  // namespace lumbrix::test
