// Cameras as the command line sees them: the facts of each and the choice of one by --camera.
#ifndef CAMERASELECT_H
#define CAMERASELECT_H

#include <QJsonObject>
#include <QList>
#include <QString>

class Output;
class QVRUsb;
struct BootLoaderList;

struct CameraFacts
{
    int index = 0;       // place in the camera list, from 0
    int driverIndex = 0; // what QVRUsb::open takes
    QString name;
    QString path;
    bool opened = false;
    bool answered = false; // every read below answered
    bool firmwareRead = false, fpgaRead = false, serialRead = false;
    QString serial, firmware, fpga, link;
    QString openProblem; // why it could not be opened

    QJsonObject toJson() const;
    QString summary() const; // one line
};

// Opens `camera` with the entry's driver index and reads the facts; leaves it open on success.
CameraFacts readCameraFacts(QVRUsb& camera, int index, int driverIndex, const QString& name,
                            const QString& path);

// Every camera present, each opened once and closed again.
QList<CameraFacts> scanCameras();

// Chooses the camera that `choice` (serial number, path or list index; empty: the only one) names
// and opens it in `camera`. With `needAnswers`, a camera that does not answer its identification
// requests is not taken. Returns ExitOk, or ExitNoDevice / ExitFailed with the reason reported.
int selectCamera(Output& out, const QString& choice, QVRUsb& camera, CameraFacts& chosen, bool needAnswers);

// Chooses the FX3 chip in its USB boot loader (a camera without firmware) that `choice` (its path,
// or its index among them; empty: the only one) names, from a new look at the bus into `loaders`.
// Returns ExitOk with its place in `loaders` in `chosen`, or ExitNoDevice with the reason reported.
int selectBootLoader(Output& out, const QString& choice, BootLoaderList& loaders, int& chosen);

#endif
