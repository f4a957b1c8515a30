// Rules a wheel firmware file must meet before the wheel is sent to its bootloader: the version in
// the file name against the wheel's, and the parsed image against what the bootloader writer takes.
// Log texts are translated in the "MainWindow" context.
#ifndef WHEELIMAGERULES_H
#define WHEELIMAGERULES_H

#include "hexparser.h"

#include <QString>
#include <QVector>
#include <cstdint>

// The version text of a firmware file name: what lies between the first "_v" (or, without one, the
// first "-v") and the ".hex" after it; empty when either is missing. Both searches are
// case-sensitive. Folders of a path are not consulted.
QString wheelFirmwareFileVersion(const QString& fileName);

// A file fits a wheel when both versions are known and their first characters (the major version)
// are equal.
bool isWheelFirmwareCompatible(const QString& fileVersion, const QString& wheelVersion);

// Empty when the bootloader writer takes an image of `size` bytes starting at `startAddress`;
// otherwise one log line naming what is wrong.
QString wheelImageProblem(uint32_t startAddress, uint32_t size);

// The parser lays the data records back to back from the start address whatever their addresses.
// Empty when that is where the file puts them: every data record starts where the one before it
// ended (the first at the start address), its address read in the upper half that the
// extended-linear-address record gives. Otherwise one log line naming the first record that does not:
// its line, its address and the address expected. Records without data are not placed anywhere and
// pass.
QString wheelRecordSequenceProblem(const QVector<HexRecord>& records, uint32_t startAddress);

#endif
