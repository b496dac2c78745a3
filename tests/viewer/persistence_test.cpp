// The viewer's stored state against a real settings file in a temporary configuration
// folder: the user's own settings are never touched.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include "viewer/bookmark.h"
#include "viewer/persistence.h"

namespace lumbrix {
namespace {

// QSettings fixes the user configuration folder when the first one is made, so the
// variable is set before any test runs.
class ConfigHomeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(folder_->isValid());
        ASSERT_EQ(::setenv("XDG_CONFIG_HOME", QFile::encodeName(folder_->path()).constData(), 1), 0);
        path = folder_->path();
    }
    void TearDown() override { folder_.reset(); }

    static inline QString path;

private:
    std::unique_ptr<QTemporaryDir> folder_;
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ConfigHomeEnvironment);

QSettings userSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Lumbrix"), QStringLiteral("Lumbrix"));
}

CameraState sampleCamera(float shift = 0.0f) {
    CameraState state;
    state.position = {0.1f + shift, -1.25f, 5.0f};
    state.target = {3.0e-7f, 0.0f, -42.5f};
    state.yaw = -2.75f + shift;
    state.pitch = 0.2f;
    state.distance = 123456.7f;
    state.fov = 60.0f;
    return state;
}

QJsonDocument storedJson(const QString& key) {
    QSettings settings = userSettings();
    const QVariant value = settings.value(key);
    EXPECT_EQ(value.typeId(), QMetaType::QByteArray) << key.toStdString();
    return QJsonDocument::fromJson(value.toByteArray());
}

class PersistenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files_.isValid());
        QSettings settings = userSettings();
        settings.clear();
        settings.sync();
    }

    // An existing file under the test's folder.
    QString makeFile(const QString& name) {
        const QString path = files_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("v 0 0 0\n");
        return path;
    }

    QString makeFolder(const QString& name) {
        EXPECT_TRUE(QDir(files_.path()).mkpath(name));
        return files_.filePath(name);
    }

    static void putRaw(const QString& key, const QVariant& value) {
        QSettings settings = userSettings();
        settings.setValue(key, value);
        settings.sync();
    }

    static void putRawUnderEach(const QStringList& keys, const QVariant& value) {
        QSettings settings = userSettings();
        for (const QString& key : keys) settings.setValue(key, value);
        settings.sync();
    }

    static bool hasKey(const QString& key) { return userSettings().contains(key); }

    QTemporaryDir files_;
    Persistence store_;
};

// --- The settings file ------------------------------------------------------------

TEST_F(PersistenceTest, SettingsFileIsLumbrixConfUnderXdgConfigHome) {
    const QString expected = ConfigHomeEnvironment::path + QStringLiteral("/Lumbrix/Lumbrix.conf");
    EXPECT_EQ(store_.fileName(), expected);

    // Written at once, without waiting for the object to go: a crash must find it.
    store_.setLaunchInProgress(true);
    QFile file(expected);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("lumbrix.launchInProgress=true"));
}

// --- Camera state -----------------------------------------------------------------

TEST_F(PersistenceTest, CameraStateRoundTripsExactly) {
    EXPECT_FALSE(store_.loadCameraState());
    store_.saveCameraState(sampleCamera());
    const auto loaded = Persistence().loadCameraState();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(*loaded, sampleCamera());
}

TEST_F(PersistenceTest, CameraStateIsStoredAsTheDocumentedJson) {
    CameraState state;
    state.position = {0, 1, 5};
    state.target = {0, 0, 0};
    state.yaw = 0;
    state.pitch = 0.2f;
    state.distance = 5;
    state.fov = 60;
    store_.saveCameraState(state);

    const QJsonDocument expected = QJsonDocument::fromJson(
        R"({"position":[0,1,5],"target":[0,0,0],"yaw":0,"pitch":0.2,"distance":5,"fov":60})");
    EXPECT_EQ(storedJson(QStringLiteral("lastCameraState")), expected);
    // The float's shortest form, not its widened double digits.
    EXPECT_TRUE(userSettings().value(QStringLiteral("lastCameraState")).toByteArray().contains("\"pitch\":0.2,"));
}

TEST_F(PersistenceTest, CameraStateThatJsonCannotCarryStoresNothing) {
    store_.saveCameraState(sampleCamera());
    CameraState broken = sampleCamera(1.0f);
    broken.fov = std::numeric_limits<float>::quiet_NaN();
    store_.saveCameraState(broken);
    broken = sampleCamera(1.0f);
    broken.position.y = std::numeric_limits<float>::infinity();
    store_.saveCameraState(broken);
    EXPECT_EQ(store_.loadCameraState(), sampleCamera());
}

TEST_F(PersistenceTest, CameraStateDecodingNeedsEveryFieldButIgnoresExtraKeysAndOrder) {
    putRaw(QStringLiteral("lastCameraState"),
           QByteArray(R"({"fov":60,"extra":"x","distance":5,"pitch":0.5,"yaw":1,"target":[1,2,3],"position":[4,5,6]})"));
    const auto loaded = store_.loadCameraState();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->position, (Float3{4, 5, 6}));
    EXPECT_EQ(loaded->target, (Float3{1, 2, 3}));
    EXPECT_EQ(loaded->pitch, 0.5f);

    const char* const failing[] = {
        R"({"position":[4,5,6],"target":[1,2,3],"yaw":1,"pitch":0.5,"distance":5})",            // no fov
        R"({"position":[4,5],"target":[1,2,3],"yaw":1,"pitch":0.5,"distance":5,"fov":60})",      // two values
        R"({"position":[4,5,6,7],"target":[1,2,3],"yaw":1,"pitch":0.5,"distance":5,"fov":60})",  // four
        R"({"position":[4,5,"6"],"target":[1,2,3],"yaw":1,"pitch":0.5,"distance":5,"fov":60})",
        R"({"position":[4,5,6],"target":[1,2,3],"yaw":true,"pitch":0.5,"distance":5,"fov":60})",
        R"({"position":[4,5,6],"target":[1,2,3],"yaw":1,"pitch":0.5,"distance":1e300,"fov":60})",
        R"({"position":[4,5,6],"target":[1,2,3],"yaw":1,"pitch":0.5,"distance":5,"fov":null})",
        R"([4,5,6])",
    };
    for (const char* json : failing) {
        putRaw(QStringLiteral("lastCameraState"), QByteArray(json));
        EXPECT_FALSE(store_.loadCameraState()) << json;
    }
}

// --- Presets ----------------------------------------------------------------------

TEST_F(PersistenceTest, PresetsZeroToNineEachKeepTheirOwnState) {
    for (int slot = 0; slot < 10; ++slot) {
        EXPECT_FALSE(store_.loadCameraPreset(slot));
        store_.saveCameraPreset(slot, sampleCamera(float(slot)));
    }
    Persistence reopened;
    for (int slot = 0; slot < 10; ++slot) {
        EXPECT_TRUE(hasKey(QStringLiteral("cameraPreset_") + QString::number(slot)));
        EXPECT_EQ(reopened.loadCameraPreset(slot), sampleCamera(float(slot))) << slot;
    }
    EXPECT_FALSE(reopened.loadCameraState()) << "a preset is not the last camera";
}

TEST_F(PersistenceTest, PresetSlotsOutsideZeroToNineStoreAndLoadNothing) {
    for (int slot : {-1, 10, 11, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        store_.saveCameraPreset(slot, sampleCamera());
        EXPECT_FALSE(store_.loadCameraPreset(slot)) << slot;
    }
    EXPECT_TRUE(userSettings().allKeys().isEmpty());

    // Even a value placed under such a key is not read.
    putRaw(QStringLiteral("cameraPreset_10"), *encodeCameraState(sampleCamera()));
    EXPECT_FALSE(store_.loadCameraPreset(10));
}

// --- Last model -------------------------------------------------------------------

TEST_F(PersistenceTest, LastModelRoundTripsForBothKindsAndEndsTheLaunch) {
    const QString obj = makeFile(QStringLiteral("stage.obj"));
    const QString fbx = makeFile(QStringLiteral("Bühne mit Kameras.fbx"));

    store_.setLaunchInProgress(true);
    store_.saveLastModel(PersistedModelKind::obj, obj);
    EXPECT_FALSE(store_.launchInProgress());
    EXPECT_EQ(Persistence().loadLastModel(), (LastModel{PersistedModelKind::obj, obj}));

    store_.setLaunchInProgress(true);
    store_.saveLastModel(PersistedModelKind::fbx, fbx);
    EXPECT_FALSE(store_.launchInProgress());
    EXPECT_EQ(Persistence().loadLastModel(), (LastModel{PersistedModelKind::fbx, fbx}));
}

TEST_F(PersistenceTest, LastModelIsStoredAsKindAndPaddedBase64Path) {
    // 11 bytes of name keep the Base64 text from ending on a whole group, whatever the folder.
    const QString path = makeFile(QStringLiteral("venue.obj"));
    const QString longer = makeFile(QStringLiteral("venue_.obj"));
    const QString longest = makeFile(QStringLiteral("venue__.obj"));
    for (const QString& candidate : {path, longer, longest}) {
        store_.saveLastModel(PersistedModelKind::fbx, candidate);
        const QJsonObject object = storedJson(QStringLiteral("lastModelRecord")).object();
        EXPECT_EQ(object.size(), 2);
        EXPECT_EQ(object.value(QStringLiteral("kind")).toString(), QStringLiteral("fbx"));
        const QString text = object.value(QStringLiteral("bookmark")).toString();
        EXPECT_EQ(text, QString::fromLatin1(candidate.toUtf8().toBase64()));
        EXPECT_EQ(text.size() % 4, 0);
    }
    store_.saveLastModel(PersistedModelKind::obj, path);
    EXPECT_EQ(storedJson(QStringLiteral("lastModelRecord")).object().value(QStringLiteral("kind")).toString(),
              QStringLiteral("obj"));
}

TEST_F(PersistenceTest, LastModelThatCannotBeBookmarkedStoresNothing) {
    const QString obj = makeFile(QStringLiteral("stage.obj"));
    store_.saveLastModel(PersistedModelKind::obj, obj);
    store_.setLaunchInProgress(true);
    store_.saveLastModel(PersistedModelKind::fbx, files_.filePath(QStringLiteral("missing.fbx")));
    store_.saveLastModel(PersistedModelKind::fbx, QString());
    EXPECT_TRUE(store_.launchInProgress()) << "nothing was stored, so the launch is not over";
    EXPECT_EQ(store_.loadLastModel(), (LastModel{PersistedModelKind::obj, obj}));
}

TEST_F(PersistenceTest, LastModelWhoseFileWasDeletedIsForgotten) {
    const QString obj = makeFile(QStringLiteral("stage.obj"));
    store_.saveLastModel(PersistedModelKind::obj, obj);
    ASSERT_TRUE(QFile::remove(obj));
    EXPECT_FALSE(store_.loadLastModel());
    EXPECT_FALSE(hasKey(QStringLiteral("lastModelRecord")));
}

TEST_F(PersistenceTest, LastModelThatDoesNotResolveIsRemovedButUndecodableDataStays) {
    putRaw(QStringLiteral("lastModelRecord"), QByteArray(R"({"kind":"obj","bookmark":"cmVsYXRpdmUub2Jq"})"));
    EXPECT_FALSE(store_.loadLastModel());  // "relative.obj"
    EXPECT_FALSE(hasKey(QStringLiteral("lastModelRecord")));

    const char* const undecodable[] = {
        R"({"kind":"stl","bookmark":"L3RtcC94Lm9iag=="})",
        R"({"kind":"obj","bookmark":"L3RtcC94Lm9iag"})",    // padding missing
        R"({"kind":"obj","bookmark":"L3Rt cC94Lm9iag=="})", // not Base64
        R"({"kind":"obj"})",
        R"({"bookmark":"L3RtcC94Lm9iag=="})",
        R"(["obj","L3RtcC94Lm9iag=="])",
        "{",
    };
    for (const char* json : undecodable) {
        putRaw(QStringLiteral("lastModelRecord"), QByteArray(json));
        EXPECT_FALSE(store_.loadLastModel()) << json;
        EXPECT_TRUE(hasKey(QStringLiteral("lastModelRecord"))) << json;
    }
}

TEST_F(PersistenceTest, ClearingTheModelRemovesTheRecordAndEndsTheLaunch) {
    store_.saveLastModel(PersistedModelKind::obj, makeFile(QStringLiteral("stage.obj")));
    store_.setLaunchInProgress(true);
    store_.clearLastModel();
    EXPECT_FALSE(hasKey(QStringLiteral("lastModelRecord")));
    EXPECT_FALSE(store_.launchInProgress());
    EXPECT_FALSE(store_.loadLastModel());

    // With nothing stored, or garbage stored, clearing still succeeds.
    store_.clearLastModel();
    putRaw(QStringLiteral("lastModelRecord"), QByteArray("\xff\x00garbage", 9));
    store_.clearLastModel();
    EXPECT_FALSE(hasKey(QStringLiteral("lastModelRecord")));
}

// --- Venues -----------------------------------------------------------------------

TEST_F(PersistenceTest, VenuesRoundTripInOrderWithVisibility) {
    const std::vector<VenueLocation> venues = {
        {makeFile(QStringLiteral("hall.obj")), true},
        {makeFile(QStringLiteral("arena.fbx")), false},
        {makeFile(QStringLiteral("club.obj")), true},
    };
    store_.saveVenues(venues);
    EXPECT_EQ(Persistence().loadVenues(), venues);
}

TEST_F(PersistenceTest, VenuesAreStoredAsAnArrayOfBookmarkAndVisible) {
    const QString hall = makeFile(QStringLiteral("hall.obj"));
    store_.saveVenues({{hall, false}});
    const QJsonDocument document = storedJson(QStringLiteral("venuesRecord"));
    ASSERT_TRUE(document.isArray());
    ASSERT_EQ(document.array().size(), 1);
    const QJsonObject record = document.array()[0].toObject();
    EXPECT_EQ(record.size(), 2);
    EXPECT_EQ(record.value(QStringLiteral("bookmark")).toString(), QString::fromLatin1(hall.toUtf8().toBase64()));
    EXPECT_EQ(record.value(QStringLiteral("visible")), QJsonValue(false));
}

TEST_F(PersistenceTest, VenueContentRoundTripsAndOldOrOddRecordsReadAsNothing) {
    VenueContentSetting region;
    region.kind = VenueContentKind::canvasRegion;
    region.region = {-20, 1280, 640, 360};
    VenueContentSetting video;
    video.kind = VenueContentKind::ownSource;
    video.sourceMode = SourceMode::file;
    video.sourcePath = QStringLiteral("/shows/side left.mov");
    VenueContentSetting sender;
    sender.kind = VenueContentKind::ownSource;
    sender.sourceMode = SourceMode::ndi;
    sender.sender = QStringLiteral("STUDIO (Cam 2)");
    const std::vector<VenueLocation> venues = {
        {makeFile(QStringLiteral("wall.obj")), true, {}},
        {makeFile(QStringLiteral("left.obj")), false, region},
        {makeFile(QStringLiteral("right.obj")), true, video},
        {makeFile(QStringLiteral("deck.obj")), true, sender},
    };
    store_.saveVenues(venues);
    EXPECT_EQ(Persistence().loadVenues(), venues);
    // Existing keys keep their meaning, so an earlier version still finds every venue.
    for (const QJsonValue& record : storedJson(QStringLiteral("venuesRecord")).array()) {
        EXPECT_TRUE(record.toObject().value(QStringLiteral("bookmark")).isString());
        EXPECT_TRUE(record.toObject().value(QStringLiteral("visible")).isBool());
    }

    const QByteArray hall = makeFile(QStringLiteral("hall.obj")).toUtf8().toBase64();
    const std::vector<std::string> unreadable = {
        "",  // written before venues had content
        R"(,"content":{"kind":"region","region":[0,0,640]})",
        R"(,"content":{"kind":"region","region":[0,0.5,640,360]})",
        R"(,"content":{"kind":"source","source":"hologram","path":"","sender":""})",
        R"(,"content":{"kind":"mirror"})",
        R"(,"content":"region")",
    };
    for (const std::string& extra : unreadable) {
        SCOPED_TRACE(extra);
        putRaw(QStringLiteral("venuesRecord"),
               QByteArray(R"([{"bookmark":")") + hall + R"(","visible":true)" + extra.c_str() + "}]");
        const auto loaded = store_.loadVenues();
        ASSERT_EQ(loaded.size(), 1u);
        EXPECT_EQ(loaded[0].content, VenueContentSetting{});
    }
}

TEST_F(PersistenceTest, VenueWhoseFileWasDeletedIsSkipped) {
    const QString hall = makeFile(QStringLiteral("hall.obj"));
    const QString arena = makeFile(QStringLiteral("arena.obj"));
    const QString club = makeFile(QStringLiteral("club.obj"));
    store_.saveVenues({{hall, true}, {arena, false}, {club, false}});
    ASSERT_TRUE(QFile::remove(arena));
    EXPECT_EQ(store_.loadVenues(), (std::vector<VenueLocation>{{hall, true}, {club, false}}));
    // Loading only resolves; the stored list still names all three until it is saved again.
    EXPECT_EQ(storedJson(QStringLiteral("venuesRecord")).array().size(), 3);
}

TEST_F(PersistenceTest, VenueThatCannotBeBookmarkedIsLeftOutWhenSaving) {
    const QString hall = makeFile(QStringLiteral("hall.obj"));
    store_.saveVenues({{files_.filePath(QStringLiteral("gone.obj")), true}, {hall, false}, {QString(), true}});
    EXPECT_EQ(storedJson(QStringLiteral("venuesRecord")).array().size(), 1);
    EXPECT_EQ(store_.loadVenues(), (std::vector<VenueLocation>{{hall, false}}));
}

TEST_F(PersistenceTest, VenueThatDoesNotResolveIsSkipped) {
    const QString hall = makeFile(QStringLiteral("hall.obj"));
    const QByteArray json = *encodeVenues({{QByteArray("relative.obj"), true}, {hall.toUtf8(), true}});
    putRaw(QStringLiteral("venuesRecord"), json);
    EXPECT_EQ(store_.loadVenues(), (std::vector<VenueLocation>{{hall, true}}));
}

TEST_F(PersistenceTest, SavingAnEmptyVenueListRemovesTheRecord) {
    store_.saveVenues({{makeFile(QStringLiteral("hall.obj")), true}});
    ASSERT_TRUE(hasKey(QStringLiteral("venuesRecord")));
    store_.saveVenues({});
    EXPECT_FALSE(hasKey(QStringLiteral("venuesRecord")));
    EXPECT_TRUE(store_.loadVenues().empty());
}

TEST_F(PersistenceTest, OneUndecodableVenueEmptiesTheWholeList) {
    const QString hall = makeFile(QStringLiteral("hall.obj"));
    const QString bookmark = QString::fromLatin1(hall.toUtf8().toBase64());
    putRaw(QStringLiteral("venuesRecord"),
           QStringLiteral(R"([{"bookmark":"%1","visible":true},{"bookmark":"%1","visible":"yes"}])").arg(bookmark).toUtf8());
    EXPECT_TRUE(store_.loadVenues().empty());
    putRaw(QStringLiteral("venuesRecord"), QStringLiteral(R"({"bookmark":"%1","visible":true})").arg(bookmark).toUtf8());
    EXPECT_TRUE(store_.loadVenues().empty());
}

// --- Capture folder ---------------------------------------------------------------

TEST_F(PersistenceTest, CaptureFolderRoundTripsAndIsStoredRaw) {
    EXPECT_FALSE(store_.loadCaptureFolder());
    const QString folder = makeFolder(QStringLiteral("Aufnahmen"));
    store_.saveCaptureFolder(folder);
    const QVariant raw = userSettings().value(QStringLiteral("lastCaptureFolder"));
    EXPECT_EQ(raw.typeId(), QMetaType::QByteArray);
    EXPECT_EQ(raw.toByteArray(), folder.toUtf8());
    EXPECT_EQ(Persistence().loadCaptureFolder(), folder);
}

TEST_F(PersistenceTest, CaptureFolderThatIsGoneOrDoesNotResolveIsRemoved) {
    const QString folder = makeFolder(QStringLiteral("shots"));
    store_.saveCaptureFolder(folder);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_FALSE(store_.loadCaptureFolder());
    EXPECT_FALSE(hasKey(QStringLiteral("lastCaptureFolder")));

    putRaw(QStringLiteral("lastCaptureFolder"), QByteArray("shots"));
    EXPECT_FALSE(store_.loadCaptureFolder());
    EXPECT_FALSE(hasKey(QStringLiteral("lastCaptureFolder")));

    // A folder the user cannot bookmark any more leaves the stored one alone.
    const QString kept = makeFolder(QStringLiteral("kept"));
    store_.saveCaptureFolder(kept);
    store_.saveCaptureFolder(files_.filePath(QStringLiteral("never-made")));
    EXPECT_EQ(store_.loadCaptureFolder(), kept);
}

TEST_F(PersistenceTest, RecentFilesKeepTheNewestFirstOnceEachUpToTheLimit) {
    for (int i = 0; i < 12; ++i) store_.addRecentFile(QStringLiteral("/shows/%1.obj").arg(i), 10);
    store_.addRecentFile(QStringLiteral("/shows/5.obj"), 10);
    const QStringList files = Persistence().recentFiles();
    ASSERT_EQ(files.size(), 10);
    EXPECT_EQ(files.first(), QStringLiteral("/shows/5.obj")) << "opened again, so first";
    EXPECT_EQ(files.count(QStringLiteral("/shows/5.obj")), 1);
    EXPECT_EQ(files.at(1), QStringLiteral("/shows/11.obj"));
    EXPECT_FALSE(files.contains(QStringLiteral("/shows/1.obj"))) << "the oldest fall off";

    // Hand-edited entries that name no absolute path are left out.
    putRaw(QStringLiteral("recentFiles"), QStringList{QStringLiteral("relative.obj"), QString(), QStringLiteral("/a.png")});
    EXPECT_EQ(store_.recentFiles(), QStringList{QStringLiteral("/a.png")});
}

// --- Garbage ----------------------------------------------------------------------

TEST_F(PersistenceTest, GarbageUnderEveryKeyGivesNoneAndNeverCrashes) {
    QStringList keys = {QStringLiteral("lumbrix.launchInProgress"), QStringLiteral("lastModelRecord"),
                        QStringLiteral("venuesRecord"), QStringLiteral("lastCameraState"),
                        QStringLiteral("lastCaptureFolder")};
    for (int slot = 0; slot < 10; ++slot) keys << QStringLiteral("cameraPreset_") + QString::number(slot);

    std::mt19937 random(1234);
    QByteArray noise(257, '\0');
    for (char& byte : noise) byte = char(random() & 0xff);
    const QList<QVariant> garbage = {
        QVariant(noise),
        QVariant(QByteArray()),
        QVariant(QByteArray("\xc3\x28 not utf-8")),
        QVariant(QByteArray("null")),
        QVariant(QByteArray("[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[")),
        QVariant(QByteArray(R"({"kind":1,"bookmark":[],"position":{},"visible":3})")),
        QVariant(QByteArray(R"([{"bookmark":"//8=","visible":true}])")),
        QVariant(QStringLiteral("garbage")),
        QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")}),
        QVariant(42),
        QVariant(-1.5),
    };
    for (const QVariant& value : garbage) {
        putRawUnderEach(keys, value);

        Persistence store;
        EXPECT_FALSE(store.loadCameraState());
        for (int slot = 0; slot < 10; ++slot) EXPECT_FALSE(store.loadCameraPreset(slot));
        EXPECT_FALSE(store.loadLastModel());
        EXPECT_TRUE(store.loadVenues().empty());
        EXPECT_FALSE(store.loadCaptureFolder());
        store.releaseStoredLocations();
        store.clearLastModel();
        // A number other than zero is a clear yes; nothing else forces safe mode.
        if (value.typeId() != QMetaType::Int && value.typeId() != QMetaType::Double) {
            putRaw(keys[0], value);
            EXPECT_FALSE(store.launchInProgress()) << value.toString().toStdString();
        }
    }
}

TEST_F(PersistenceTest, CorruptSettingsFileStartsClean) {
    const QString path = files_.filePath(QStringLiteral("corrupt.conf"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General\nlumbrix.launchInProgress=@Variant(\\0\\0\\0\x7f\\xff)\n"
                   "lastModelRecord=@ByteArray(\\xff\\xfe{\"kind\":)\n"
                   "venuesRecord=@ByteArray([{]\nlastCameraState=\"unterminated\n"
                   "cameraPreset_3=@Variant(garbage\n\x01\x02\x03\xff\xfe=\n=\n");
        file.write(QByteArray(300, '\0'));
    }
    Persistence store(path);
    EXPECT_FALSE(store.launchInProgress());
    EXPECT_FALSE(store.loadCameraState());
    for (int slot = 0; slot < 10; ++slot) EXPECT_FALSE(store.loadCameraPreset(slot));
    EXPECT_FALSE(store.loadLastModel());
    EXPECT_TRUE(store.loadVenues().empty());
    EXPECT_FALSE(store.loadCaptureFolder());
}

TEST(PersistedRecordsTest, RandomBytesNeverDecode) {
    std::mt19937 random(99);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(random() % 64), '\0');
        for (char& byte : bytes) byte = char("{}[]\":,0123456789.eE-truefalsnl bookmarkvisiblepositionfov"[random() % 58]);
        // Only has to survive; the odd random valid document may decode.
        (void)decodeCameraState(bytes);
        (void)decodeLastModel(bytes);
        (void)decodeVenues(bytes);
        (void)resolveBookmark(bytes);
    }
}

// --- Launch flag and safe mode ----------------------------------------------------

TEST_F(PersistenceTest, LaunchFlagIsFalseWhenAbsentAndTracksTheStartUp) {
    EXPECT_FALSE(store_.launchInProgress());
    EXPECT_FALSE(store_.beginLaunch());
    EXPECT_TRUE(store_.launchInProgress());
    EXPECT_EQ(userSettings().value(QStringLiteral("lumbrix.launchInProgress")).toBool(), true);
    store_.endLaunch();
    EXPECT_FALSE(store_.launchInProgress());

    // A start-up that never ended is seen by the next one.
    EXPECT_FALSE(store_.beginLaunch());
    EXPECT_TRUE(Persistence().beginLaunch());
}

TEST_F(PersistenceTest, LaunchFlagReadsTextAsAClearYesOnly) {
    for (const char* yes : {"true", "TRUE", "yes", "1", "2"}) {
        putRaw(QStringLiteral("lumbrix.launchInProgress"), QString::fromLatin1(yes));
        EXPECT_TRUE(store_.launchInProgress()) << yes;
    }
    for (const char* no : {"false", "0", "no", "", "maybe"}) {
        putRaw(QStringLiteral("lumbrix.launchInProgress"), QString::fromLatin1(no));
        EXPECT_FALSE(store_.launchInProgress()) << no;
    }
}

TEST(StartupPlanTest, CleanStartWithoutShiftRestores) {
    const StartupPlan plan = planStartup(false, false);
    EXPECT_FALSE(plan.safeMode);
    EXPECT_FALSE(plan.removeLastModelRecord);
    EXPECT_TRUE(plan.message.isEmpty());
}

TEST(StartupPlanTest, UnfinishedPreviousLaunchClearsTheLastModel) {
    for (bool shift : {false, true}) {
        const StartupPlan plan = planStartup(true, shift);
        EXPECT_TRUE(plan.safeMode);
        EXPECT_TRUE(plan.removeLastModelRecord);
        EXPECT_EQ(plan.message, QStringLiteral("Safe Mode: last model cleared (previous launch did not finish)."));
    }
}

TEST(StartupPlanTest, ShiftAfterACleanLaunchSkipsLoadingButKeepsTheRecord) {
    const StartupPlan plan = planStartup(false, true);
    EXPECT_TRUE(plan.safeMode);
    EXPECT_FALSE(plan.removeLastModelRecord);
    EXPECT_EQ(plan.message, QStringLiteral("Safe Mode: model loading skipped (Shift)."));
}

// The start-up sequence as the view model runs it, against the real store.
struct StartupOutcome {
    StartupPlan plan;
    std::optional<LastModel> model;
    std::optional<QString> captureFolder;
    std::vector<VenueLocation> venues;
};

StartupOutcome startUp(bool shiftHeld) {
    Persistence store;
    StartupOutcome outcome;
    const bool previousLaunchUnfinished = store.beginLaunch();
    (void)store.loadCameraState();
    outcome.plan = planStartup(previousLaunchUnfinished, shiftHeld);
    if (outcome.plan.removeLastModelRecord) store.removeLastModelRecord();
    if (!outcome.plan.safeMode) {
        outcome.model = store.loadLastModel();
        outcome.captureFolder = store.loadCaptureFolder();
        outcome.venues = store.loadVenues();
    }
    store.endLaunch();
    return outcome;
}

TEST_F(PersistenceTest, FirstStartEverRestoresNothingAndEndsTheLaunch) {
    const StartupOutcome outcome = startUp(false);
    EXPECT_FALSE(outcome.plan.safeMode);
    EXPECT_FALSE(outcome.model);
    EXPECT_FALSE(outcome.captureFolder);
    EXPECT_TRUE(outcome.venues.empty());
    EXPECT_FALSE(store_.launchInProgress());
}

TEST_F(PersistenceTest, StartAfterACrashedStartForgetsOnlyTheModel) {
    const QString model = makeFile(QStringLiteral("stage.fbx"));
    const QString venue = makeFile(QStringLiteral("hall.obj"));
    const QString folder = makeFolder(QStringLiteral("shots"));
    store_.saveLastModel(PersistedModelKind::fbx, model);
    store_.saveVenues({{venue, true}});
    store_.saveCaptureFolder(folder);
    store_.beginLaunch();  // and then the application dies

    const StartupOutcome safe = startUp(false);
    EXPECT_TRUE(safe.plan.safeMode);
    EXPECT_EQ(safe.plan.message, QStringLiteral("Safe Mode: last model cleared (previous launch did not finish)."));
    EXPECT_FALSE(hasKey(QStringLiteral("lastModelRecord")));
    EXPECT_TRUE(safe.venues.empty());
    EXPECT_FALSE(store_.launchInProgress());

    const StartupOutcome next = startUp(false);
    EXPECT_FALSE(next.plan.safeMode);
    EXPECT_FALSE(next.model);
    EXPECT_EQ(next.captureFolder, folder);
    EXPECT_EQ(next.venues, (std::vector<VenueLocation>{{venue, true}}));
}

TEST_F(PersistenceTest, ShiftAfterACleanStartKeepsTheModelForNextTime) {
    const QString model = makeFile(QStringLiteral("stage.obj"));
    store_.saveLastModel(PersistedModelKind::obj, model);

    const StartupOutcome shifted = startUp(true);
    EXPECT_TRUE(shifted.plan.safeMode);
    EXPECT_EQ(shifted.plan.message, QStringLiteral("Safe Mode: model loading skipped (Shift)."));
    EXPECT_FALSE(shifted.model);
    EXPECT_TRUE(hasKey(QStringLiteral("lastModelRecord")));

    EXPECT_EQ(startUp(false).model, (LastModel{PersistedModelKind::obj, model}));
}

}  // namespace
}  // namespace lumbrix
