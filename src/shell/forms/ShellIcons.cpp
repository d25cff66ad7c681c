#include "shell/forms/ShellIcons.h"

#include "shell/ShellImages.h"

#include <QPainter>
#include <QStyle>

#include <map>

namespace pictor {

namespace {

QIcon BaseIcon(int index, const QStyle* style) {
    const QStringList names = TSystemImageList::Instance().Names(index);
    for (const QString& name : names)
        if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    if (!style) return {};
    const QString all = names.join(QLatin1Char(' '));
    QStyle::StandardPixmap fallback = QStyle::SP_FileIcon;
    if (all.contains(QLatin1String("folder")) || all.contains(QLatin1String("directory")))
        fallback = QStyle::SP_DirIcon;
    else if (all.contains(QLatin1String("drive")) || all.contains(QLatin1String("computer")))
        fallback = QStyle::SP_DriveHDIcon;
    else if (all.contains(QLatin1String("trash")))
        fallback = QStyle::SP_TrashIcon;
    return style->standardIcon(fallback);
}

// The base icon at the usual sizes with the emblem in its lower left quarter.
QIcon WithOverlay(const QIcon& base, int overlay, const QStyle* style) {
    QIcon emblem = QIcon::fromTheme(overlay == 2 ? QStringLiteral("emblem-symbolic-link")
                                                 : QStringLiteral("emblem-shared"));
    if (emblem.isNull() && style && overlay == 2)
        emblem = style->standardIcon(QStyle::SP_FileLinkIcon);
    if (emblem.isNull()) return base;
    QIcon out;
    for (int size : {16, 22, 32, 48}) {
        QPixmap pixmap = base.pixmap(size, size);
        if (pixmap.isNull()) continue;
        QPainter painter(&pixmap);
        const int e = std::max(8, size / 2);
        painter.drawPixmap(0, pixmap.height() - e, emblem.pixmap(e, e));
        painter.end();
        out.addPixmap(pixmap);
    }
    return out.isNull() ? base : out;
}

} // namespace

QIcon SystemIcon(int index, const QStyle* style, int overlay) {
    // Icons live on the UI thread only; the cache is never touched elsewhere.
    static std::map<std::pair<int, int>, QIcon> cache;
    const auto key = std::make_pair(index, overlay);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    QIcon icon = BaseIcon(index, style);
    if (overlay == 1 || overlay == 2) icon = WithOverlay(icon, overlay, style);
    cache.emplace(key, icon);
    return icon;
}

} // namespace pictor
