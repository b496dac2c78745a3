// The FBX check against the real Varnel on Blender's exports, and against small shell scripts
// standing in for it where a misbehaving tool is the point.
#include "viewer/varnel_check.h"

#include <errno.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

using namespace std::chrono_literals;

const QString kInvalidOutput = QStringLiteral("FBX helper returned invalid output.");

std::optional<HelperResult> decode(const char* line) { return decodeHelperResult(QByteArray(line)); }

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Error varnelError(int code, const QString& text) { return Error(kVarnelErrorDomain, code, text.toStdString()); }

// Qt's own complaints while alive, e.g. about a process destroyed while still running.
class QtMessageLog {
public:
    QtMessageLog() { previous_ = qInstallMessageHandler(&QtMessageLog::record); }
    ~QtMessageLog() {
        qInstallMessageHandler(previous_);
        messages().clear();
    }
    QtMessageLog(const QtMessageLog&) = delete;
    QtMessageLog& operator=(const QtMessageLog&) = delete;

    static QStringList& messages() {
        static QStringList list;
        return list;
    }

private:
    static void record(QtMsgType, const QMessageLogContext&, const QString& text) { messages().append(text); }
    QtMessageHandler previous_ = nullptr;
};

TEST(DecodeHelperResult, ReadsEachLineVarnelWrites) {
    const auto success = decode("{\"ok\":true,\"meshCount\":1}\n");
    ASSERT_TRUE(success);
    EXPECT_TRUE(success->ok);
    EXPECT_EQ(success->meshCount, 1);
    EXPECT_FALSE(success->error);

    const auto failure = decode("{\"ok\":false,\"error\":\"Multiple meshes (2). Export as single mesh.\"}\n");
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->ok);
    EXPECT_EQ(failure->error, QStringLiteral("Multiple meshes (2). Export as single mesh."));
    EXPECT_FALSE(failure->meshCount);
}

TEST(DecodeHelperResult, AbsentOrNullOptionalKeysAreNone) {
    const auto okOnly = decode("{\"ok\":true}");
    ASSERT_TRUE(okOnly);
    EXPECT_TRUE(okOnly->ok);
    EXPECT_FALSE(okOnly->meshCount);
    EXPECT_FALSE(okOnly->error);

    const auto nulls = decode("  {\"ok\":false,\"error\":null,\"meshCount\":null,\"extra\":[1]} \r\n\t");
    ASSERT_TRUE(nulls);
    EXPECT_FALSE(nulls->ok);
    EXPECT_FALSE(nulls->error);
    EXPECT_FALSE(nulls->meshCount);

    const auto integralFloat = decode("{\"meshCount\":3.0,\"ok\":true}");
    ASSERT_TRUE(integralFloat);
    EXPECT_EQ(integralFloat->meshCount, 3);
}

TEST(DecodeHelperResult, RefusesLinesWithoutABooleanOk) {
    for (const char* line : {"{\"meshCount\":1}", "{\"ok\":\"true\",\"meshCount\":1}", "{\"ok\":1}", "{\"ok\":null}",
                             "{\"OK\":true}"})
        EXPECT_FALSE(decode(line)) << line;
}

TEST(DecodeHelperResult, RefusesWrongTypesForOptionalKeys) {
    for (const char* line : {"{\"ok\":false,\"error\":5}", "{\"ok\":false,\"error\":{\"text\":\"x\"}}",
                             "{\"ok\":true,\"meshCount\":\"3\"}", "{\"ok\":true,\"meshCount\":2.5}",
                             "{\"ok\":true,\"meshCount\":true}", "{\"ok\":true,\"meshCount\":1e12}"})
        EXPECT_FALSE(decode(line)) << line;
}

TEST(DecodeHelperResult, RefusesAnythingButOneObject) {
    for (const char* line : {"", "\n", "garbage", "{\"ok\":true", "[{\"ok\":true}]", "true",
                             "{\"ok\":true}\n{\"ok\":false}\n", "{\"ok\":true} trailing", "Usage: Varnel <path-to-fbx>\n"})
        EXPECT_FALSE(decode(line)) << '"' << line << '"';
}

// The tool built beside the tests, on Blender's exports in tests/data.
class RealVarnel : public ::testing::Test {
protected:
    static QString blenderExport(const char* relative) {
        return QString::fromUtf8(LUMBRIX_TEST_DATA_DIR) + QStringLiteral("/generated/blender/") + QString::fromUtf8(relative);
    }
    static Expected<VarnelCheck, Error> check(const QString& fbxPath) {
        return runVarnelCheck(fbxPath, QString::fromUtf8(LUMBRIX_VARNEL_DIR));
    }
};

TEST_F(RealVarnel, PassesSingleMeshFilesWhateverElseTheyHold) {
    for (const char* file : {"bl_b_cube_uv.fbx", "bl_e_mesh_3cams.fbx"}) {
        const auto result = check(blenderExport(file));
        ASSERT_TRUE(result) << file << ": " << result.error().description;
        EXPECT_TRUE(result->passed) << file;
        EXPECT_EQ(result->message, QStringLiteral("FBX validated: 1 mesh")) << file;
    }
}

TEST_F(RealVarnel, RefusesSeveralMeshesWithTheirCount) {
    const auto two = check(blenderExport("bl_d_two_meshes.fbx"));
    ASSERT_TRUE(two) << two.error().description;
    EXPECT_FALSE(two->passed);
    EXPECT_EQ(two->message, QStringLiteral("Multiple meshes (2). Export as single mesh."));

    const auto three = check(blenderExport("bl_j_three_meshes.fbx"));
    ASSERT_TRUE(three) << three.error().description;
    EXPECT_FALSE(three->passed);
    EXPECT_EQ(three->message, QStringLiteral("Multiple meshes (3). Export as single mesh."));
}

TEST_F(RealVarnel, ReportsUnreadableAndMeshlessFilesAsAVerdict) {
    const auto missing = check(blenderExport("no such file.fbx"));
    ASSERT_TRUE(missing) << missing.error().description;
    EXPECT_FALSE(missing->passed);
    EXPECT_EQ(missing->message, QStringLiteral("Failed to read FBX file"));

    const auto camerasOnly = check(blenderExport("bl_i_cameras_only.fbx"));
    ASSERT_TRUE(camerasOnly) << camerasOnly.error().description;
    EXPECT_FALSE(camerasOnly->passed);
    EXPECT_EQ(camerasOnly->message, QStringLiteral("FBX has no meshes"));
}

// A stand-in "Varnel" script in a fresh folder.
class FakeVarnel : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.ok()); }

    void writeTool(const std::string& body, std::filesystem::perms mode = std::filesystem::perms(0755)) {
        {
            std::ofstream out(toolPath(), std::ios::binary | std::ios::trunc);
            out << "#!/bin/sh\n" << body << '\n';
        }
        std::filesystem::permissions(toolPath(), mode);
    }

    Expected<VarnelCheck, Error> check(std::chrono::milliseconds timeout = 5s,
                                       const QString& fbxPath = QStringLiteral("/venues/stage.fbx")) {
        return runVarnelCheck(fbxPath, dir(), timeout);
    }

    QString dir() const { return QString::fromStdString(folder_.path().string()); }
    std::string toolPath() const { return folder_.file("Varnel"); }
    std::string file(const std::string& name) const { return folder_.file(name); }

private:
    test::TempFolder folder_;
};

TEST_F(FakeVarnel, NeedsAnExecutableDirectoryWithTheToolInIt) {
    const auto noDirectory = runVarnelCheck(QStringLiteral("/venues/stage.fbx"), QString());
    ASSERT_FALSE(noDirectory);
    EXPECT_EQ(noDirectory.error(), varnelError(1, QStringLiteral("Main executable URL not available.")));

    const auto noTool = check();
    ASSERT_FALSE(noTool);
    EXPECT_EQ(noTool.error(), varnelError(1, QStringLiteral("FBX helper tool not found in app bundle.")));
}

TEST_F(FakeVarnel, ToolThatCannotBeStartedIsALaunchError) {
    writeTool("echo '{\"ok\":true,\"meshCount\":1}'", std::filesystem::perms(0644));
    const auto result = check();
    ASSERT_FALSE(result) << result->message.toStdString();
    EXPECT_EQ(result.error().domain, "QProcess");
    EXPECT_EQ(result.error().code, 0);  // QProcess::FailedToStart
    EXPECT_FALSE(result.error().description.empty());
}

TEST_F(FakeVarnel, PassesTheFbxPathAsTheOnlyArgument) {
    writeTool("printf '%s|%s' \"$#\" \"$1\" > \"$(dirname \"$0\")/args\"\necho '{\"ok\":true}'");
    const QString path = QStringLiteral("/venues/main stage/Bühne v2 'final'.fbx");
    const auto result = check(5s, path);
    ASSERT_TRUE(result) << result.error().description;
    EXPECT_EQ(readText(file("args")), "1|" + path.toStdString());
}

TEST_F(FakeVarnel, SuccessMessageCountsMeshes) {
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"{\"ok\":true}", "FBX validated: 1 mesh"},
        {"{\"ok\":true,\"meshCount\":1}", "FBX validated: 1 mesh"},
        {"{\"ok\":true,\"meshCount\":3}", "FBX validated: 3 meshes"},
        {"{\"ok\":true,\"meshCount\":0}", "FBX validated: 0 meshes"},
    };
    for (const auto& c : cases) {
        writeTool(std::string("echo '") + c.line + "'");
        const auto result = check();
        ASSERT_TRUE(result) << c.line << ": " << result.error().description;
        EXPECT_TRUE(result->passed) << c.line;
        EXPECT_EQ(result->message.toStdString(), c.message);
    }
}

TEST_F(FakeVarnel, RefusalCarriesTheToolsTextOrTheInvalidOutputText) {
    // A decodable line wins over whatever else the tool says, and its exit status is not read.
    writeTool("echo '{\"ok\":false,\"error\":\"Multiple meshes (4). Export as single mesh.\"}'\necho noise >&2\nexit 1");
    const auto refused = check();
    ASSERT_TRUE(refused) << refused.error().description;
    EXPECT_FALSE(refused->passed);
    EXPECT_EQ(refused->message, QStringLiteral("Multiple meshes (4). Export as single mesh."));

    writeTool("echo '{\"ok\":false}'");
    const auto silentRefusal = check();
    ASSERT_TRUE(silentRefusal) << silentRefusal.error().description;
    EXPECT_FALSE(silentRefusal->passed);
    EXPECT_EQ(silentRefusal->message, kInvalidOutput);

    writeTool("echo '{\"ok\":true,\"meshCount\":1}'\nexit 7");
    const auto failingStatus = check();
    ASSERT_TRUE(failingStatus) << failingStatus.error().description;
    EXPECT_TRUE(failingStatus->passed);
}

TEST_F(FakeVarnel, WithoutADecodableLineTheErrorIsTheToolsStandardError) {
    const struct {
        const char* script;
        QString description;
    } cases[] = {
        {"exit 0", kInvalidOutput},
        {"echo 'not json'", kInvalidOutput},
        {"echo '{\"meshCount\":1}'\necho 'reader exploded' >&2", QStringLiteral("reader exploded")},
        // Empty standard output and the usage text, as Varnel writes when called wrongly.
        {"printf 'Usage: Varnel <path-to-fbx>\\n' >&2\nexit 1", QStringLiteral("Usage: Varnel <path-to-fbx>")},
        // Only the one final line feed goes; the rest is kept as written.
        {"printf '  first\\nsecond \\n\\n' >&2", QStringLiteral("  first\nsecond \n")},
        {"printf 'no line feed' >&2", QStringLiteral("no line feed")},
        {"printf '\\n' >&2", kInvalidOutput},
        {"printf 'B\\303\\274hne kaputt\\n' >&2", QStringLiteral("Bühne kaputt")},
        // Not UTF-8: nothing readable.
        {"printf 'bad \\377\\376 bytes\\n' >&2", kInvalidOutput},
        {"printf 'cut \\303' >&2", kInvalidOutput},
    };
    for (const auto& c : cases) {
        writeTool(c.script);
        const auto result = check();
        ASSERT_FALSE(result) << c.script << " -> " << result->message.toStdString();
        EXPECT_EQ(result.error(), varnelError(2, c.description)) << c.script;
    }
}

TEST_F(FakeVarnel, ChattyToolCannotBlockOnFullPipes) {
    // Far more than a pipe holds on both channels before the line; the leading blanks
    // are whitespace to the JSON reader.
    writeTool(
        "head -c 300000 /dev/zero | tr '\\0' x >&2\n"
        "head -c 300000 /dev/zero | tr '\\0' ' '\n"
        "echo '{\"ok\":true,\"meshCount\":2}'");
    const auto result = check(5s);
    ASSERT_TRUE(result) << result.error().description.substr(0, 80);
    EXPECT_EQ(result->message, QStringLiteral("FBX validated: 2 meshes"));
}

TEST_F(FakeVarnel, HungToolIsKilledAfterTheTimeout) {
    // Even a valid line does not count once the tool overstays.
    writeTool("echo $$ > \"$(dirname \"$0\")/pid\"\necho '{\"ok\":true}'\nexec sleep 30");
    const QtMessageLog log;
    const auto start = std::chrono::steady_clock::now();
    const auto result = check(500ms);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), varnelError(2, QStringLiteral("FBX helper did not finish.")));
    EXPECT_GE(elapsed, 450ms);
    EXPECT_LT(elapsed, 1500ms);
    EXPECT_TRUE(QtMessageLog::messages().isEmpty()) << QtMessageLog::messages().join('\n').toStdString();

    const pid_t pid = static_cast<pid_t>(std::stol(readText(file("pid"))));
    ASSERT_GT(pid, 0);
    // Killed and reaped: not even a zombie is left under that id.
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

}  // namespace
}  // namespace lumbrix
