#include "viewer/bookmark.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

namespace lumbrix {

std::optional<QByteArray> makeBookmark(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    const QFileInfo info(path);
    if (!info.exists()) return std::nullopt;
    // cleanPath keeps symbolic links as they are: the user chose that name.
    return QDir::cleanPath(info.absoluteFilePath()).toUtf8();
}

std::optional<ResolvedBookmark> resolveBookmark(const QByteArray& bookmark) {
    if (bookmark.isEmpty() || bookmark.contains('\0')) return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString path = decoder.decode(bookmark);
    // Not QDir::isAbsolutePath: it also accepts Qt resource names such as ":/x".
    if (decoder.hasError() || !path.startsWith(u'/')) return std::nullopt;
    return ResolvedBookmark{std::move(path), false};
}

void startAccessing(const QString&) {}

void stopAccessing(const QString&) {}

}  // namespace lumbrix
