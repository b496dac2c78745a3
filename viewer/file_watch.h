#pragma once
// Tells when a file the viewer shows has a new version on disk, once it has stopped
// changing. Exporters write in place, or write a temporary file and rename it over the
// old one, or delete and create: the file's own watch sees the first, its folder's watch
// the other two. A version is reported once, after `settle` without any event for it and
// only when it differs (device, inode, size, modification time) from what was last
// reported or adopted, so a large file written slowly is one reload, not one per write.
//
// Qt Core; the GUI thread.
#include <chrono>
#include <functional>
#include <optional>

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include "platform/regular_file.h"

class QFileSystemWatcher;
class QTimer;

namespace lumbrix {

inline constexpr std::chrono::milliseconds kFileSettleTime{500};

class FileWatch final : public QObject {
    Q_OBJECT

public:
    explicit FileWatch(std::chrono::milliseconds settle = kFileSettleTime, QObject* parent = nullptr);
    ~FileWatch() override;

    // Watches exactly these files from now on. A file newly watched takes its current
    // version as the one already shown.
    void setFiles(const QStringList& paths);
    QStringList files() const;
    // Takes the file's present version as shown, so it is not reported again (after a
    // reload made by hand, for one).
    void adopt(const QString& path);
    // Off: events are ignored and nothing is reported; on again, versions that appeared
    // meanwhile are reported after `settle`.
    void setEnabled(bool enabled);
    bool isEnabled() const { return enabled_; }

signals:
    // The file has a new version that has not changed for `settle`.
    void fileChanged(const QString& path);

private:
    struct Entry {
        std::optional<FileVersion> shown;
        QTimer* settleTimer = nullptr;  // a child of this object
        // The inode the file's watch is on: after a rename over a file that someone
        // still holds open, the old inode lives on and the watch would stay with it.
        std::optional<quint64> watchedInode;
    };

    void noteEvent(const QString& path);
    void noteFolderEvent(const QString& folder);
    void settle(const QString& path);
    void rewatch();

    std::chrono::milliseconds settle_;
    bool enabled_ = true;
    QFileSystemWatcher* watcher_ = nullptr;  // a child of this object
    QHash<QString, Entry> entries_;
};

}  // namespace lumbrix
