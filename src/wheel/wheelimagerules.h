// Rules a wheel firmware file must meet before the wheel is sent to its bootloader: the version in
// the file name against the wheel's, and the parsed image against what the bootloader writer takes.
// Log texts are translated in the "MainWindow" context.
#ifndef WHEELIMAGERULES_H
#define WHEELIMAGERULES_H

#include <QString>
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

#endif
