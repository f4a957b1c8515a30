#include "imagefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

ImageFile loadImage(const QString& path, qint64 limit)
{
    ImageFile image;
    const QFileInfo info(path);
    if (!info.exists()) {
        image.problem = QStringLiteral("%1: no such file").arg(path);
        return image;
    }
    if (!info.isFile()) {
        image.problem = QStringLiteral("%1: not a regular file").arg(path);
        return image;
    }
    if (info.size() > limit) {
        image.problem = QStringLiteral("%1 holds %2 bytes; its flash area takes at most %3")
                            .arg(path)
                            .arg(info.size())
                            .arg(limit);
        return image;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        image.problem = QStringLiteral("%1: %2").arg(path, file.errorString());
        return image;
    }
    // Read one byte past the limit, so a file that grew since the size check is still caught.
    image.data = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError) {
        image.problem = QStringLiteral("%1: %2").arg(path, file.errorString());
        image.data.clear();
    } else if (image.data.isEmpty()) {
        image.problem = QStringLiteral("%1 is empty").arg(path);
    } else if (image.data.size() > limit) {
        image.problem = QStringLiteral("%1 holds more than %2 bytes, more than its flash area takes")
                            .arg(path)
                            .arg(limit);
        image.data.clear();
    }
    return image;
}

ByteDifference compareBytes(const QByteArray& expected, const QByteArray& actual)
{
    ByteDifference d;
    const qint64 n = expected.size();
    for (qint64 i = 0; i < n; ++i) {
        if (i >= actual.size() || expected.at(int(i)) != actual.at(int(i))) {
            if (d.first < 0)
                d.first = i;
            ++d.count;
        }
    }
    return d;
}

QString saveFile(const QString& path, const QByteArray& data)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    if (file.write(data) != data.size() || !file.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}
