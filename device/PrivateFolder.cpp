#include "device/PrivateFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>

bool makePrivateFolder(const QString& folder)
{
    const QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    for (int i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const QByteArray part = path.left(i);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(folder).isDir();
}
