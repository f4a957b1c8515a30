// Why the command line refuses a file, in plain words: the files it would create, the camera
// images, the wheel firmware files and the version rules of a wheel update. Every check here runs
// before a device is written; those about files run before a device is even chosen.
#ifndef REFUSALS_H
#define REFUSALS_H

#include "hexparser.h"

#include <QString>
#include <QVector>

struct ImageFile;

// Empty when `path` can be created: it does not exist yet and its folder takes a new file.
QString backupTargetProblem(const QString& path);

// Empty when a camera may be given `image` (already read) for its firmware or FPGA area; otherwise
// why not. `warning` says what --force let through.
QString cameraImageProblem(const QString& path, const ImageFile& image, bool fpga, bool force,
                           QString& warning);

// A wheel firmware file as the update checks it before any wheel is touched.
struct WheelFile
{
    QString path;
    QString version;       // from the file name
    HexParseResult parsed; // valid when problem is empty
    QString problem;       // why it is refused, empty when it is not
    QString parserText;    // the window's parse message, for --verbose
};
WheelFile checkWheelFile(const QString& path);

// Dotted versions ("3.2.0") as numbers: false when `text` is not digits separated by dots.
bool parseVersion(const QString& text, QVector<qint64>& parts);
// -1, 0 or 1; trailing zero parts do not count (3.2 equals 3.2.0). Both must parse.
int compareVersions(const QVector<qint64>& a, const QVector<qint64>& b);

// Empty when a file of `fileVersion` may be written to a wheel running `wheelVersion`: the same
// major version, and newer unless the options allow a re-install or an older version. Otherwise
// the refusal; `code` is then the exit code.
QString wheelVersionProblem(const QString& file, const QString& fileVersion, const QString& wheelVersion,
                            bool allowReinstall, bool allowOlder, int& code);

#endif
