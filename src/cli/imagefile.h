// Firmware files on disk: reading them with the reasons a file is refused, comparing them with
// flash contents, and saving flash contents without leaving a partial file behind.
#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include <QByteArray>
#include <QString>

struct ImageFile
{
    QByteArray data;
    QString problem; // why the file is refused; empty when it was read
};

// Reads a whole file of 1 to `limit` bytes; a larger file is refused before it is read.
ImageFile loadImage(const QString& path, qint64 limit);

struct ByteDifference
{
    qint64 first = -1; // offset of the first differing byte, -1 when equal
    qint64 count = 0;  // number of differing bytes
};
// Compares `actual` with `expected` over the length of `expected`; bytes missing from `actual`
// count as different.
ByteDifference compareBytes(const QByteArray& expected, const QByteArray& actual);

// Writes `data` to `path` as a whole or not at all. Empty on success, else the reason.
QString saveFile(const QString& path, const QByteArray& data);

#endif
