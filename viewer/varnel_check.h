#pragma once
// The out-of-process FBX check: before the viewer imports an FBX file itself, it lets
// Varnel (shipped next to the executable) look at it, so a file that crashes the reader
// takes down only that child. Main thread only; synchronous by design, the tool prints
// one short line and is bounded by a timeout.
#include <chrono>
#include <optional>

#include <QByteArray>
#include <QString>

#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

inline constexpr const char* kVarnelErrorDomain = "Varnel";

// Varnel's one JSON line.
struct HelperResult {
    bool ok = false;
    std::optional<QString> error;
    std::optional<int> meshCount;
};

// None unless `output` is one JSON object (surrounding whitespace allowed) with a boolean
// "ok". "error" must be a string and "meshCount" an integral number in int range; a key
// that is absent or null yields none, any other type makes the whole line undecodable.
std::optional<HelperResult> decodeHelperResult(const QByteArray& output);

struct VarnelCheck {
    bool passed = false;
    QString message;
};

inline constexpr std::chrono::milliseconds kVarnelTimeout{120000};

// Runs `executableDir`/Varnel on `fbxPath` and turns its line into a verdict for the user.
// Errors: ("Varnel", 1, …) when there is no executable directory or no tool in it; the
// launch failure as ("QProcess", QProcess::ProcessError, its text); ("Varnel", 2, …) when
// the tool outlives `timeout` (it is killed) or prints nothing decodable, with its
// standard-error text or "FBX helper returned invalid output.".
Expected<VarnelCheck, Error> runVarnelCheck(const QString& fbxPath, const QString& executableDir,
                                            std::chrono::milliseconds timeout = kVarnelTimeout);

}  // namespace lumbrix
