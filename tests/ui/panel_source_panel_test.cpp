// The side panel against a view model on fakes: every section's controls follow their
// fields and write them back, the placeholder texts, and the enable and dimming rules.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

#include "tests/ui/panel_test_support.h"
#include "ui/level_meter.h"
#include "ui/panel_capture_section.h"
#include "ui/panel_segmented_picker.h"
#include "ui/panel_source_section.h"
#include "ui/panel_style.h"
#include "ui/source_panel.h"

namespace lumbrix::test {
namespace {

using Field = ViewerViewModel::Field;

const std::string kThreeCamerasFBX = "generated/blender/bl_e_mesh_3cams.fbx";

QStringList itemsOf(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items.push_back(combo->itemText(i));
    return items;
}

double opacityOf(const QWidget* widget) {
    const auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

class SourcePanelTest : public PanelTest {
protected:
    SourcePanel& panel() {
        if (!panel_) panel_ = &show(std::make_unique<SourcePanel>(*model));
        return *panel_;
    }
    ViewerViewModel& vm() {
        if (!model) make();
        return *model;
    }
    void click(const QString& name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    QString text(const QString& name) { return find<QLabel>(name)->text(); }

    SourcePanel* panel_ = nullptr;
};

TEST(PanelTextTest, WholeNumbersAreCutTowardsZeroAndFrameSizesUseTheMultiplicationSign) {
    EXPECT_EQ(wholeNumberText(49.9), QStringLiteral("49"));
    EXPECT_EQ(wholeNumberText(50.0), QStringLiteral("50"));
    EXPECT_EQ(wholeNumberText(-7.9), QStringLiteral("-7"));
    EXPECT_EQ(wholeNumberText(0.99), QStringLiteral("0"));
    EXPECT_EQ(gainText(-8.0), QStringLiteral("-8 dB"));
    EXPECT_EQ(gainText(11.6), QStringLiteral("11 dB"));
    EXPECT_EQ(frameSizeText(1920, 1080), QString::fromUtf8("1920×1080"));
    EXPECT_EQ(frameSizeText(1279.9, 719.5), QString::fromUtf8("1279×719"));
    EXPECT_EQ(frameSizeText(0, 0), QString::fromUtf8("—"));
}

TEST_F(SourcePanelTest, SectionsComeInOrderAndFollowTheirFlagsBothWays) {
    vm();
    panel();
    const QStringList names{"modelSection", "venueSection", "sourceSection", "captureSection"};
    const QStringList titles{"MODEL", "VENUE", "SOURCE", "CAPTURE"};
    int lastTop = -1;
    for (int i = 0; i < names.size(); ++i) {
        auto* header = find<QToolButton>(names[i]);
        EXPECT_EQ(header->text(), titles[i]);
        const int top = header->mapTo(&panel(), QPoint(0, 0)).y();
        EXPECT_GT(top, lastTop) << names[i].toStdString();
        lastTop = top;
    }
    // Initially everything but the venues is open.
    EXPECT_TRUE(find<QWidget>("modelSectionContent")->isVisible());
    EXPECT_FALSE(find<QWidget>("venueSectionContent")->isVisible());
    EXPECT_EQ(find<QToolButton>("venueSection")->arrowType(), Qt::RightArrow);

    click("modelSection");
    EXPECT_FALSE(vm().isModelExpanded());
    EXPECT_FALSE(find<QWidget>("modelSectionContent")->isVisible());
    click("venueSection");
    EXPECT_TRUE(vm().isVenueExpanded());
    EXPECT_TRUE(find<QWidget>("venueSectionContent")->isVisible());
    EXPECT_EQ(find<QToolButton>("venueSection")->arrowType(), Qt::DownArrow);

    vm().setIsSourceExpanded(false);
    vm().setIsCaptureExpanded(false);
    EXPECT_FALSE(find<QWidget>("sourceSectionContent")->isVisible());
    EXPECT_FALSE(find<QWidget>("captureSectionContent")->isVisible());
    click("captureSection");
    EXPECT_TRUE(vm().isCaptureExpanded());
}

TEST_F(SourcePanelTest, EverySectionFitsTheWindowsThreeHundredPixelColumn) {
    const QString venue = QString::fromStdString(writeFile("a rather long venue file name.obj", kSquareOBJ));
    vm().setIsVenueExpanded(true);
    ASSERT_TRUE(vm().addVenue(venue));
    vm().setVideoFile(QStringLiteral("/media/a rather long name for a video file.mov"));
    panel();
    for (const SourceMode mode : {SourceMode::ndi, SourceMode::file, SourceMode::image}) {
        vm().selectSourceMode(mode);
        panel().resize(300, 900);
        QCoreApplication::processEvents();
        auto* content = find<QWidget>("modelSection")->parentWidget()->parentWidget();
        EXPECT_LE(content->minimumSizeHint().width(), 300);
        EXPECT_LE(content->width(), 300);
    }
    // Shortened on screen only: the label keeps the whole name and offers it as a tooltip.
    EXPECT_EQ(text("videoFileLabel"), QStringLiteral("a rather long name for a video file.mov"));
    EXPECT_EQ(find<QLabel>("videoFileLabel")->toolTip(), QStringLiteral("a rather long name for a video file.mov"));
}

TEST_F(SourcePanelTest, ModelRowNamesTheFileOfTheCurrentKindOnly) {
    const QString square = QString::fromStdString(writeFile("square.obj", kSquareOBJ));
    vm();
    panel();
    auto* kind = find<SegmentedPicker>("modelKindPicker");
    EXPECT_EQ(kind->button(0)->text(), QStringLiteral("OBJ"));
    EXPECT_EQ(kind->button(1)->text(), QStringLiteral("FBX"));
    EXPECT_EQ(kind->currentIndex(), 0);
    EXPECT_EQ(text("modelFileLabel"), QStringLiteral("No OBJ selected"));

    vm().openOBJModel(square);
    ASSERT_TRUE(vm().mesh());
    EXPECT_EQ(text("modelFileLabel"), QStringLiteral("square.obj"));

    // The OBJ stays loaded, but it is not an FBX file.
    QTest::mouseClick(kind->button(1), Qt::LeftButton);
    EXPECT_EQ(vm().modelKind(), ModelKind::fbx);
    EXPECT_TRUE(vm().objURL());
    EXPECT_EQ(text("modelFileLabel"), QStringLiteral("No FBX selected"));

    click("chooseModelButton");
    vm().setModelKind(ModelKind::obj);
    EXPECT_EQ(kind->currentIndex(), 0);
    EXPECT_EQ(text("modelFileLabel"), QStringLiteral("square.obj"));
    click("chooseModelButton");
    EXPECT_EQ(picker->asked, (std::vector<FilePickKind>{FilePickKind::fbxModel, FilePickKind::objModel}));

    const auto fits = vm().fitRequestID();
    click("fitButton");
    EXPECT_EQ(vm().fitRequestID(), fits + 1);

    click("clearModelButton");
    EXPECT_FALSE(vm().objURL());
    EXPECT_FALSE(vm().mesh());
    EXPECT_EQ(text("modelFileLabel"), QStringLiteral("No OBJ selected"));
}

TEST_F(SourcePanelTest, CameraPickerListsTheImportedCamerasAfterDefault) {
    vm();
    panel();
    auto* cameras = find<QComboBox>("fbxCameraPicker");
    EXPECT_EQ(itemsOf(cameras), QStringList{QStringLiteral("Default")});
    EXPECT_EQ(text("fbxCameraStatus"), QString::fromUtf8("FBX: —"));

    vm().setModelKind(ModelKind::fbx);
    vm().openFBXModel(testDataQ(kThreeCamerasFBX));
    ASSERT_EQ(vm().fbxCameras().size(), 3u) << vm().modelStatusText().toStdString();
    QStringList expected{QStringLiteral("Default")};
    for (const auto& camera : vm().fbxCameras()) expected.push_back(QString::fromStdString(camera->name()));
    EXPECT_EQ(itemsOf(cameras), expected);
    EXPECT_EQ(cameras->currentIndex(), 0);
    EXPECT_EQ(text("fbxCameraStatus"), vm().fbxCameraStatus());
    EXPECT_EQ(text("modelFileLabel"), QStringLiteral("bl_e_mesh_3cams.fbx"));

    cameras->setFocus();
    QTest::keyClick(cameras, Qt::Key_Down);
    EXPECT_EQ(vm().selectedFBXCameraIndex(), 0);
    QTest::keyClick(cameras, Qt::Key_Down);
    EXPECT_EQ(vm().selectedFBXCameraIndex(), 1);
    // Choosing the scene's camera also sets the field of view.
    EXPECT_EQ(text("fovValue"), wholeNumberText(vm().fovDegrees()));

    vm().selectFBXCamera(-1);
    EXPECT_EQ(cameras->currentIndex(), 0);
    vm().selectFBXCamera(7);  // past the list: still shown as Default
    EXPECT_EQ(cameras->currentIndex(), 0);
    vm().clearModel();
    EXPECT_EQ(itemsOf(cameras), QStringList{QStringLiteral("Default")});
}

TEST_F(SourcePanelTest, FacesInactiveSideAndFieldOfViewFollowBothWays) {
    vm();
    panel();
    auto* faces = find<QComboBox>("faceModePicker");
    EXPECT_EQ(itemsOf(faces), (QStringList{"Both", "Front", "Back"}));
    EXPECT_EQ(faces->currentIndex(), 0);
    faces->setFocus();
    QTest::keyClick(faces, Qt::Key_Down);
    EXPECT_EQ(vm().faceMode(), FaceMode::front);
    vm().setFaceMode(FaceMode::back);
    EXPECT_EQ(faces->currentText(), QStringLiteral("Back"));

    auto* inactive = find<SegmentedPicker>("inactiveSidePicker");
    EXPECT_EQ(inactive->button(0)->text(), QStringLiteral("Gray"));
    EXPECT_EQ(inactive->button(1)->text(), QStringLiteral("Hide"));
    QTest::mouseClick(inactive->button(1), Qt::LeftButton);
    EXPECT_EQ(vm().inactiveSideMode(), InactiveSideMode::hide);
    vm().setInactiveSideMode(InactiveSideMode::gray);
    EXPECT_EQ(inactive->currentIndex(), 0);

    auto* fov = find<QSlider>("fovSlider");
    EXPECT_EQ(fov->minimum(), 5);
    EXPECT_EQ(fov->maximum(), 120);
    EXPECT_EQ(fov->singleStep(), 1);
    EXPECT_EQ(text("fovValue"), QStringLiteral("50"));
    EXPECT_EQ(find<QLabel>("fovValue")->width(), 44);
    vm().setFieldOfView(49.9f);
    EXPECT_EQ(text("fovValue"), QStringLiteral("49"));
    EXPECT_FLOAT_EQ(vm().fovDegrees(), 49.9f);  // showing it does not write it back
    fov->setFocus();
    QTest::keyClick(fov, Qt::Key_Right);
    EXPECT_FLOAT_EQ(vm().fovDegrees(), 51.0f);
    EXPECT_FLOAT_EQ(vm().camera()->fovDegrees, 51.0f);
    EXPECT_EQ(text("fovValue"), QStringLiteral("51"));
}

TEST_F(SourcePanelTest, UVDensityRowIsDimmedWhileTheGridIsOffAndKeepsItsValue) {
    vm();
    panel();
    auto* grid = find<QCheckBox>("uvGridSwitch");
    auto* row = find<QWidget>("uvDensityRow");
    auto* density = find<QSlider>("uvDensitySlider");
    EXPECT_EQ(grid->text(), QStringLiteral("Show UV Grid"));
    EXPECT_FALSE(grid->isChecked());
    EXPECT_DOUBLE_EQ(opacityOf(row), 0.5);
    EXPECT_EQ(density->minimum(), 1);
    EXPECT_EQ(density->maximum(), 80);
    EXPECT_EQ(text("uvDensityValue"), QStringLiteral("20"));
    EXPECT_EQ(find<QLabel>("uvDensityValue")->width(), 36);

    clickCheckBox(grid);
    EXPECT_TRUE(vm().showUVGrid());
    EXPECT_DOUBLE_EQ(opacityOf(row), 1.0);

    density->setValue(33);
    EXPECT_DOUBLE_EQ(vm().uvGridDensity(), 33.0);
    EXPECT_EQ(text("uvDensityValue"), QStringLiteral("33"));

    vm().setShowUVGrid(false);
    EXPECT_FALSE(grid->isChecked());
    EXPECT_DOUBLE_EQ(opacityOf(row), 0.5);
    EXPECT_EQ(density->value(), 33);
    EXPECT_DOUBLE_EQ(vm().uvGridDensity(), 33.0);

    vm().setUvGridDensity(12.7);
    EXPECT_EQ(text("uvDensityValue"), QStringLiteral("12"));
}

TEST_F(SourcePanelTest, VenueRowsFollowTheListAndActOnTheirOwnEntry) {
    const QString hall = QString::fromStdString(writeFile("hall.obj", kSquareOBJ));
    const QString stage = QString::fromStdString(writeFile("stage.obj", kSquareOBJ));
    vm().setIsVenueExpanded(true);
    panel();
    auto* empty = find<QLabel>("venueEmptyLabel");
    EXPECT_EQ(empty->text(), QStringLiteral("No venue geometry"));
    EXPECT_TRUE(empty->isVisible());
    click("addVenueButton");
    EXPECT_EQ(picker->asked, std::vector<FilePickKind>{FilePickKind::venues});

    ASSERT_TRUE(vm().addVenue(hall));
    ASSERT_TRUE(vm().addVenue(stage));
    EXPECT_FALSE(empty->isVisible());
    EXPECT_EQ(text("venueName_0"), QStringLiteral("hall.obj"));
    EXPECT_EQ(text("venueName_1"), QStringLiteral("stage.obj"));
    EXPECT_EQ(find<QPushButton>("venueClear_0")->text(), QStringLiteral("Clear"));
    auto* stageVisible = find<QCheckBox>("venueVisible_1");
    EXPECT_TRUE(stageVisible->isChecked());
    EXPECT_TRUE(stageVisible->text().isEmpty());
    EXPECT_EQ(stageVisible->accessibleName(), QStringLiteral("Visible"));

    clickCheckBox(stageVisible);
    ASSERT_EQ(vm().venues().size(), 2u);
    EXPECT_TRUE(vm().venues()[0].visible);
    EXPECT_FALSE(vm().venues()[1].visible);

    click("venueClear_0");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(vm().venues().size(), 1u);
    EXPECT_EQ(vm().venues()[0].url, stage);
    EXPECT_EQ(text("venueName_0"), QStringLiteral("stage.obj"));
    EXPECT_FALSE(find<QCheckBox>("venueVisible_0")->isChecked());
    EXPECT_EQ(widget->findChild<QWidget*>(QStringLiteral("venueRow_1")), nullptr);

    click("venueClear_0");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(vm().venues().empty());
    EXPECT_TRUE(empty->isVisible());
}

TEST_F(SourcePanelTest, AVenueRowSetsWhatItShowsWithoutRebuildingUnderTheUser) {
    auto bridge = std::make_shared<FakeBridge>();
    bridge->pictureSize = std::make_pair(3840, 1080);
    vm().setCaptureBridge(bridge);
    vm().setIsVenueExpanded(true);
    panel();
    ASSERT_TRUE(vm().addVenue(QString::fromStdString(writeFile("side.obj", kSquareOBJ))));
    QCoreApplication::processEvents();  // a row added to a shown layout shows a moment later
    auto* shows = find<QComboBox>("venueContent_0");
    EXPECT_EQ(itemsOf(shows), (QStringList{"Nothing", "Canvas region", "Own source"}));
    EXPECT_FALSE(find<QWidget>("venueWholeCanvas_0")->isVisible());

    // A first region is the whole canvas; then each number is the user's.
    shows->activated(1);
    EXPECT_EQ(vm().venues()[0].content.region, (CanvasRegion{0, 0, 3840, 1080}));
    auto* x = find<QSpinBox>("venueRegionX_0");
    EXPECT_TRUE(x->isVisible());
    x->setValue(1280);
    find<QSpinBox>("venueRegionW_0")->setValue(640);
    EXPECT_EQ(vm().venues()[0].content.region, (CanvasRegion{1280, 0, 640, 1080}));
    EXPECT_EQ(find<QSpinBox>("venueRegionX_0"), x) << "the row stays while it is edited";
    click("venueWholeCanvas_0");
    EXPECT_EQ(vm().venues()[0].content.region, (CanvasRegion{0, 0, 3840, 1080}));
    EXPECT_EQ(x->value(), 0);

    // An own picture through the picture chooser, named in the row.
    const QString still = QString::fromStdString(writeFile("still.png", "png"));
    picker->answers[FilePickKind::imageFile] = {{still}};
    shows->activated(2);
    auto* kind = find<QComboBox>("venueSourceKind_0");
    kind->setCurrentIndex(kind->findData(static_cast<int>(SourceMode::image)));
    kind->activated(kind->currentIndex());
    click("venueChooseSource_0");
    ASSERT_TRUE(pumpUntil([&] { return vm().venues()[0].source != nullptr; }));
    EXPECT_EQ(vm().venues()[0].content.sourcePath, still);
    EXPECT_EQ(text("venueSourceStatus_0"), QStringLiteral("still.png"));
    EXPECT_EQ(bridge->venueDraws.back()[0].source, vm().venues()[0].source);

    shows->activated(0);
    EXPECT_EQ(vm().venues()[0].content.kind, VenueContentKind::none);
    EXPECT_EQ(vm().venues()[0].source, nullptr);
}

TEST_F(SourcePanelTest, SourceModeShowsItsOwnControlsAndRebuildsTheSource) {
    vm();
    panel();
    auto* mode = find<SegmentedPicker>("sourceModePicker");
    EXPECT_EQ(mode->button(0)->text(), QStringLiteral("NDI"));
    EXPECT_EQ(mode->button(1)->text(), QStringLiteral("File"));
    EXPECT_EQ(mode->button(2)->text(), QStringLiteral("Image"));
    EXPECT_EQ(mode->currentIndex(), 0);
    EXPECT_TRUE(find<QWidget>("ndiSenderPicker")->isVisible());
    EXPECT_FALSE(find<QWidget>("chooseVideoButton")->isVisible());

    QTest::mouseClick(mode->button(1), Qt::LeftButton);
    EXPECT_EQ(vm().sourceMode(), SourceMode::file);
    EXPECT_FALSE(vm().activeSource());  // rebuilt: no file chosen yet
    EXPECT_FALSE(find<QWidget>("ndiSenderPicker")->isVisible());
    EXPECT_TRUE(find<QWidget>("chooseVideoButton")->isVisible());
    EXPECT_EQ(text("videoFileLabel"), QStringLiteral("No file selected"));
    click("chooseVideoButton");
    vm().setVideoFile(QStringLiteral("/media/shows/opening.mov"));
    EXPECT_EQ(text("videoFileLabel"), QStringLiteral("opening.mov"));

    vm().selectSourceMode(SourceMode::image);
    EXPECT_EQ(mode->currentIndex(), 2);
    EXPECT_TRUE(find<QWidget>("chooseImageButton")->isVisible());
    EXPECT_FALSE(find<QWidget>("chooseVideoButton")->isVisible());
    EXPECT_EQ(text("imageFileLabel"), QStringLiteral("No image selected"));
    click("chooseImageButton");
    vm().setImageFile(QStringLiteral("/media/stills/test card.png"));
    EXPECT_EQ(text("imageFileLabel"), QStringLiteral("test card.png"));
    EXPECT_EQ(picker->asked, (std::vector<FilePickKind>{FilePickKind::videoFile, FilePickKind::imageFile}));

    QTest::mouseClick(mode->button(0), Qt::LeftButton);
    EXPECT_EQ(vm().sourceMode(), SourceMode::ndi);
    ASSERT_TRUE(vm().activeSource());
    EXPECT_EQ(sources.made.back()->kind, "ndi");
}

TEST_F(SourcePanelTest, NDIControlsShowNoSenderAndNoFrameBeforeDiscovery) {
    vm();
    panel();
    auto* senders = find<QComboBox>("ndiSenderPicker");
    EXPECT_EQ(itemsOf(senders), QStringList{QString::fromUtf8("—")});
    EXPECT_EQ(senders->currentIndex(), 0);
    EXPECT_EQ(text("frameSizeLabel"), QString::fromUtf8("—"));
    EXPECT_EQ(find<QPushButton>("refreshButton")->text(), QStringLiteral("Refresh"));
    // Without a running discovery the refresh has nothing to wake; it must not block.
    click("refreshButton");
    const auto before = sources.made.size();
    senders->setFocus();
    QTest::keyClick(senders, Qt::Key_Down);  // nothing below "—": no connection, no rebuild
    EXPECT_EQ(sources.made.size(), before);
    EXPECT_EQ(senders->currentIndex(), 0);
}

TEST_F(SourcePanelTest, CaptureFolderComesFromThePickerSeam) {
    vm();
    panel();
    EXPECT_EQ(text("folderLabel"), QStringLiteral("No folder"));
    EXPECT_EQ(find<QPushButton>("folderButton")->text(), QString::fromUtf8("Folder…"));
    int asked = 0;
    QString answer;
    panel().setFolderPicker([&](std::function<void(QString)> done) {
        ++asked;
        done(answer);
    });
    click("folderButton");  // Cancel
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(vm().captureFolderURL());
    EXPECT_EQ(text("folderLabel"), QStringLiteral("No folder"));

    answer = QString::fromStdString(folder.file("Takes"));
    click("folderButton");
    EXPECT_EQ(vm().captureFolderURL(), answer);
    EXPECT_EQ(text("folderLabel"), QStringLiteral("Takes"));
    EXPECT_EQ(text("captureMessage"), QStringLiteral("Folder: Takes"));
}

TEST_F(SourcePanelTest, CaptureButtonsReachTheRendererAndRecordReadsStopWhileRecording) {
    auto bridge = std::make_shared<FakeBridge>();
    vm().setCaptureBridge(bridge);
    panel();
    auto* record = find<QPushButton>("recordButton");
    EXPECT_EQ(find<QPushButton>("screenshotButton")->text(), QStringLiteral("Screenshot"));
    EXPECT_EQ(record->text(), QStringLiteral("Record H.264"));
    EXPECT_EQ(text("captureMessage"), QStringLiteral("Renderer not ready yet."));

    click("screenshotButton");
    EXPECT_EQ(text("captureMessage"), QStringLiteral("Choose folder first."));
    vm().setCaptureFolder(QString::fromStdString(folder.file("out")));
    click("screenshotButton");
    EXPECT_EQ(bridge->screenshots.size(), 1u);
    EXPECT_EQ(text("captureMessage"), QStringLiteral("Saved: Lumbrix_20250131_235959.png"));

    click("recordButton");
    ASSERT_TRUE(vm().isRecording());
    EXPECT_EQ(record->text(), QStringLiteral("Stop"));
    EXPECT_EQ(text("captureMessage"), QString::fromUtf8("Recording… Lumbrix_20250131_235959.mov"));
    click("recordButton");  // the stop is under way until the writer answers
    ASSERT_TRUE(pumpUntil([&] { return !bridge->stopCompletions.empty(); }));
    EXPECT_EQ(record->text(), QString::fromUtf8("Finishing…"));
    EXPECT_FALSE(record->isEnabled()) << "a click now would be taken for a second Stop";
    QTest::mouseClick(record, Qt::LeftButton);
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_EQ(bridge->stopCompletions.size(), 1u);
    bridge->stopCompletions.front()(std::string(folder.file("out/Lumbrix_20250131_235959.mov")));
    ASSERT_TRUE(pumpUntil([&] { return !vm().isRecording(); }));
    EXPECT_EQ(record->text(), QStringLiteral("Record H.264"));
    EXPECT_TRUE(record->isEnabled());
    EXPECT_EQ(text("captureMessage"), QStringLiteral("Saved: Lumbrix_20250131_235959.mov"));
}

TEST_F(SourcePanelTest, MicrophoneAndGainControlsFollowTheirRules) {
    vm();
    panel();
    auto* mic = find<QToolButton>("micButton");
    auto* micGain = find<QSlider>("micGainSlider");
    auto* videoGain = find<QSlider>("videoGainSlider");
    EXPECT_EQ(mic->toolTip(), QStringLiteral("Microphone on/off"));
    EXPECT_EQ(mic->property("symbol").toString(), QStringLiteral("mic.slash"));
    EXPECT_FALSE(mic->icon().isNull());
    EXPECT_EQ(micGain->minimum(), -6);
    EXPECT_EQ(micGain->maximum(), 12);
    EXPECT_EQ(videoGain->minimum(), -24);
    EXPECT_EQ(videoGain->maximum(), 6);
    EXPECT_EQ(text("micGainValue"), QStringLiteral("6 dB"));
    EXPECT_EQ(text("videoGainValue"), QStringLiteral("-8 dB"));
    EXPECT_FALSE(micGain->isEnabled());
    EXPECT_TRUE(videoGain->isEnabled());  // a sender's sound takes the source gain too

    QTest::mouseClick(mic, Qt::LeftButton);
    EXPECT_TRUE(vm().isMicEnabled());
    EXPECT_EQ(mic->property("symbol").toString(), QStringLiteral("mic.fill"));
    EXPECT_TRUE(micGain->isEnabled());
    micGain->setValue(3);
    EXPECT_FLOAT_EQ(vm().micGainDB(), 3.0f);
    EXPECT_EQ(text("micGainValue"), QStringLiteral("3 dB"));
    QTest::mouseClick(mic, Qt::LeftButton);
    EXPECT_FALSE(vm().isMicEnabled());
    EXPECT_FALSE(micGain->isEnabled());

    vm().selectSourceMode(SourceMode::file);
    EXPECT_TRUE(videoGain->isEnabled());
    videoGain->setValue(-20);
    EXPECT_FLOAT_EQ(vm().videoGainDB(), -20.0f);
    vm().setVideoGainDB(-7.9f);
    EXPECT_EQ(text("videoGainValue"), QStringLiteral("-7 dB"));
    EXPECT_EQ(videoGain->value(), -8);
    vm().selectSourceMode(SourceMode::image);
    EXPECT_FALSE(videoGain->isEnabled());

    vm().setLastCaptureMessage(QStringLiteral("Ready."));
    EXPECT_EQ(text("captureMessage"), QStringLiteral("Ready."));
}

TEST(LevelMeterTest, LevelsOutsideTheScaleAreHeldAtItsEnds) {
    widgetApplication();
    LevelMeter meter;
    EXPECT_FLOAT_EQ(meter.level(), 0.0f);
    meter.setLevel(0.25f);
    EXPECT_FLOAT_EQ(meter.level(), 0.25f);
    meter.setLevel(3.0f);
    EXPECT_FLOAT_EQ(meter.level(), 1.0f);
    meter.setLevel(-1.0f);
    EXPECT_FLOAT_EQ(meter.level(), 0.0f);
    meter.setLevel(std::nanf(""));
    EXPECT_FLOAT_EQ(meter.level(), 0.0f);
}

}  // namespace
}  // namespace lumbrix::test
