#pragma once
#include <filesystem>
#include <string>

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

// `name` in `folder`, as the file system takes it.
inline std::string capturePath(const QString& folder, const QString& name) {
    return (std::filesystem::path(folder.toStdString()) / name.toStdString()).string();
}

}  // namespace lumbrix
