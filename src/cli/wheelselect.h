// Filter wheels as the command line sees them, through the wheel-control library, and the choice
// of one by --wheel.
#ifndef WHEELSELECT_H
#define WHEELSELECT_H

#include <QJsonObject>
#include <QList>
#include <QString>

class Output;

struct WheelFacts
{
    int id = -1;
    QString name;
    QString serial;
    int slotCount = 0;
    bool opened = false;
    bool versionRead = false;
    QString firmware; // as the library reports it, without "V"
    QString problem;  // why it could not be opened or read

    QJsonObject toJson() const;
    QString summary() const; // one line
};

// The library's error text for a status code.
QString wheelErrorText(int code);

// Every wheel the library reports, each opened and its firmware version read.
QList<WheelFacts> scanWheels();

// Chooses the wheel that `choice` (serial number or id; empty: the only one) names; it stays open.
// Returns ExitOk, or ExitNoDevice / ExitFailed with the reason reported.
int selectWheel(Output& out, const QString& choice, WheelFacts& chosen);

#endif
