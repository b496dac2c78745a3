#include "viewer/varnel_check.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QProcess>
#include <QStringDecoder>

namespace lumbrix {

namespace {

constexpr const char* kInvalidOutput = "FBX helper returned invalid output.";

Unexpected<Error> varnelFailure(int code, std::string description) {
    return unexpected(Error(kVarnelErrorDomain, code, std::move(description)));
}

// A null value reads as a missing key, the way an optional field decodes elsewhere.
bool isAbsent(const QJsonValue& value) { return value.isUndefined() || value.isNull(); }

std::optional<int> exactInt(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(number);
}

int remainingMs(const QDeadlineTimer& deadline) {
    const qint64 remaining = deadline.remainingTime();
    if (remaining < 0) return -1;  // no deadline
    return static_cast<int>(std::min<qint64>(remaining, std::numeric_limits<int>::max()));
}

VarnelCheck verdict(const HelperResult& result) {
    if (!result.ok) return {false, result.error.value_or(QString::fromUtf8(kInvalidOutput))};
    const int meshes = result.meshCount.value_or(1);
    return {true, QStringLiteral("FBX validated: %1 mesh%2").arg(meshes).arg(meshes == 1 ? QLatin1String() : QLatin1String("es"))};
}

// The text becomes a one-line description in an alert, so the line feed that ends what
// a program writes to stderr is dropped (one only; anything else is kept as written).
// Bytes that are not UTF-8 say nothing readable, like no text at all.
std::string standardErrorText(QByteArray bytes) {
    if (bytes.endsWith('\n')) bytes.chop(1);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.isEmpty()) return kInvalidOutput;
    return text.toStdString();
}

}  // namespace

std::optional<HelperResult> decodeHelperResult(const QByteArray& output) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(output, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject object = document.object();

    const QJsonValue ok = object.value(QLatin1String("ok"));
    if (!ok.isBool()) return std::nullopt;
    HelperResult result;
    result.ok = ok.toBool();

    const QJsonValue error = object.value(QLatin1String("error"));
    if (error.isString())
        result.error = error.toString();
    else if (!isAbsent(error))
        return std::nullopt;

    const QJsonValue meshCount = object.value(QLatin1String("meshCount"));
    if (!isAbsent(meshCount)) {
        result.meshCount = exactInt(meshCount);
        if (!result.meshCount) return std::nullopt;
    }
    return result;
}

Expected<VarnelCheck, Error> runVarnelCheck(const QString& fbxPath, const QString& executableDir,
                                            std::chrono::milliseconds timeout) {
    if (executableDir.isEmpty()) return varnelFailure(1, "Main executable URL not available.");
    const QString tool = executableDir + QStringLiteral("/Varnel");
    if (!QFileInfo::exists(tool)) return varnelFailure(1, "FBX helper tool not found in app bundle.");

    const QDeadlineTimer deadline(timeout);
    QProcess process;
    process.setProgram(tool);
    process.setArguments({fbxPath});
    process.setProcessChannelMode(QProcess::SeparateChannels);
    // Read-only: the child's stdin is closed, so a tool that reads it cannot wait on us.
    process.start(QIODevice::ReadOnly);

    // waitFor* keep draining both pipes into QProcess's buffers, so a child that writes
    // more than a pipe holds still gets to exit.
    const bool finished = process.waitForStarted(remainingMs(deadline)) && process.waitForFinished(remainingMs(deadline));
    if (!finished) {
        if (process.state() == QProcess::NotRunning && process.error() == QProcess::FailedToStart)
            return unexpected(Error("QProcess", static_cast<int>(process.error()), process.errorString().toStdString()));
        if (process.state() != QProcess::NotRunning) {
            // A hung tool must not freeze the window forever; reaping it leaves no zombie.
            process.kill();
            process.waitForFinished(-1);
            return varnelFailure(2, "FBX helper did not finish.");
        }
    }

    const QByteArray output = process.readAllStandardOutput();
    if (!output.isEmpty()) {
        if (const std::optional<HelperResult> result = decodeHelperResult(output)) return verdict(*result);
    }
    return varnelFailure(2, standardErrorText(process.readAllStandardError()));
}

}  // namespace lumbrix
