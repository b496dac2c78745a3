#include "viewer/file_watch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace lumbrix {

namespace {

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// The watch's paths are Qt's; the file system's names are bytes.
std::optional<FileVersion> versionOf(const QString& path) {
    return FileVersion::of(std::string(QFile::encodeName(path).constData()));
}

}  // namespace

FileWatch::FileWatch(std::chrono::milliseconds settle, QObject* parent)
    : QObject(parent), settle_(settle), watcher_(new QFileSystemWatcher(this)) {
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &FileWatch::noteEvent);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &FileWatch::noteFolderEvent);
}

FileWatch::~FileWatch() = default;

void FileWatch::setFiles(const QStringList& paths) {
    const QSet<QString> wanted(paths.begin(), paths.end());
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (wanted.contains(it.key())) {
            ++it;
            continue;
        }
        delete it->settleTimer;
        it = entries_.erase(it);
    }
    for (const QString& path : wanted) {
        if (path.isEmpty() || entries_.contains(path)) continue;
        Entry entry;
        entry.shown = versionOf(path);
        entry.settleTimer = new QTimer(this);
        entry.settleTimer->setSingleShot(true);
        entry.settleTimer->setInterval(settle_);
        connect(entry.settleTimer, &QTimer::timeout, this, [this, path] { settle(path); });
        entries_.insert(path, entry);
    }
    rewatch();
}

QStringList FileWatch::files() const { return entries_.keys(); }

void FileWatch::adopt(const QString& path) {
    const auto found = entries_.find(path);
    if (found == entries_.end()) return;
    found->shown = versionOf(path);
    found->settleTimer->stop();
}

void FileWatch::setEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    for (Entry& entry : entries_) {
        if (enabled) {
            entry.settleTimer->start();
        } else {
            entry.settleTimer->stop();
        }
    }
}

void FileWatch::noteEvent(const QString& path) {
    // A file renamed over or deleted takes its watch with it; the new one needs its own.
    rewatch();
    const auto found = entries_.find(path);
    if (!enabled_ || found == entries_.end()) return;
    found->settleTimer->start();
}

void FileWatch::noteFolderEvent(const QString& folder) {
    rewatch();
    if (!enabled_) return;
    const QString changed = QFileInfo(folder).absoluteFilePath();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (folderOf(it.key()) != changed) continue;
        // A folder event for another file leaves this one as it was; only a new version
        // restarts its wait, so a busy folder cannot hold a reload back.
        if (versionOf(it.key()) != it->shown) it->settleTimer->start();
    }
}

void FileWatch::settle(const QString& path) {
    const auto found = entries_.find(path);
    if (!enabled_ || found == entries_.end()) return;
    const std::optional<FileVersion> now = versionOf(path);
    // Gone (mid-replacement, or deleted for good): the folder's watch brings it back.
    if (!now || now == found->shown) return;
    // Another write can land between the last event and now without an event reaching
    // us yet; a second look a moment later keeps a half-written file from being read.
    QTimer::singleShot(std::chrono::milliseconds(20), this, [this, path, now] {
        const auto again = entries_.find(path);
        if (!enabled_ || again == entries_.end() || again->settleTimer->isActive()) return;
        if (versionOf(path) != now) {
            again->settleTimer->start();
            return;
        }
        again->shown = now;
        emit fileChanged(path);
    });
}

void FileWatch::rewatch() {
    QSet<QString> folders;
    QStringList watchedFiles = watcher_->files();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        folders.insert(folderOf(it.key()));
        const std::optional<FileVersion> now = versionOf(it.key());
        const bool watched = watchedFiles.contains(it.key());
        if (watched && (!now || it->watchedInode != now->inode)) {
            watcher_->removePath(it.key());
            watchedFiles.removeOne(it.key());
        }
        if (now && !watchedFiles.contains(it.key()) && watcher_->addPath(it.key())) {
            watchedFiles.append(it.key());
            it->watchedInode = now->inode;
        }
    }
    for (const QString& path : watchedFiles) {
        if (!entries_.contains(path)) watcher_->removePath(path);
    }
    const QStringList watchedFolders = watcher_->directories();
    for (const QString& folder : watchedFolders) {
        if (!folders.contains(folder)) watcher_->removePath(folder);
    }
    for (const QString& folder : folders) {
        if (!watchedFolders.contains(folder)) watcher_->addPath(folder);
    }
}

}  // namespace lumbrix
