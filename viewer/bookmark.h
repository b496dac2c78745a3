#pragma once
#if !defined(LUMBRIX_INSIDE_VIEWER) && !defined(LUMBRIX_TESTS)
#error "viewer/bookmark.h is internal to viewer/"
#endif
// File locations as stored bookmarks.
//
// Without security-scoped bookmarks a bookmark is the absolute path as UTF-8 bytes: it
// finds the location again as long as nothing moved, and it never goes stale. Access
// stays bracketed by start/stop so that callers keep the pairing a sandboxed platform
// would need; here both do nothing.
#include <optional>

#include <QByteArray>
#include <QString>

namespace lumbrix {

struct ResolvedBookmark {
    QString path;        // absolute
    bool stale = false;  // usable, but should be made again
};

// None for an empty path or one where nothing exists, as a platform bookmark would fail.
// A relative path is taken from the current folder.
std::optional<QByteArray> makeBookmark(const QString& path);

// None unless the bytes are valid UTF-8 forming an absolute path without NUL.
std::optional<ResolvedBookmark> resolveBookmark(const QByteArray& bookmark);

void startAccessing(const QString& path);
void stopAccessing(const QString& path);

}  // namespace lumbrix
