// How the command line reports a camera write that ended: why it failed and what the flash area
// holds afterwards. Shared by the writes and by the flash write of a recovery.
#ifndef WRITEOUTCOME_H
#define WRITEOUTCOME_H

#include <QString>
#include <QStringList>
#include <cstdint>

class QVRUsb;

// The reason for a failed write's result code (QVRUsb::WriteResult), in plain words.
QString writeFailureReason(int result);

// The transport's reason for the last failed request, in brackets, or nothing.
QString transportNote(const QVRUsb& camera);

// A write refused because another program holds the camera; `users` as QVRUsb::cameraUsers.
QString cameraInUseText(const QStringList& users);

// What a camera write left in its area, from its result and how far it got.
struct AreaOutcome
{
    QString state;           // as the "areaState" field
    qint64 writtenBytes = 0; // of the file, written and read back
    QString text;            // one sentence for the user
};
AreaOutcome areaOutcome(bool fpga, int result, uint8_t progress, uint32_t programmed, qint64 fileBytes);

#endif
