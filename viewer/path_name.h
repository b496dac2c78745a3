#pragma once
#include <QFileInfo>
#include <QString>

namespace lumbrix {

// The name a status line shows for a file or folder: its last path component, also
// when a folder path ends in a slash.
inline QString lastPathComponent(const QString& path) {
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/'))) trimmed.chop(1);
    return QFileInfo(trimmed).fileName();
}

}  // namespace lumbrix
