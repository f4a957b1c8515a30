// flashwick-cli: camera and filter-wheel updates from a terminal or a script.
#ifndef CLI_H
#define CLI_H

#include <QString>
#include <QStringList>

class Output;

// Exit codes: also listed in commandline.txt (help, man page) and the README.
enum ExitCode
{
    ExitOk = 0,
    ExitFailed = 1,       // a device operation failed (also: verify could not read the flash)
    ExitUsage = 2,        // bad command line, or a write without --yes where no one can be asked
    ExitNoDevice = 3,     // no such device, or the choice is ambiguous
    ExitFileRefused = 4,  // missing, empty, too large, not a valid FX3 boot image, HEX error, version rule
    ExitWheelNotBack = 5, // the wheel did not come back after its update, or runs another version
    ExitDiffers = 6,      // verify found a difference
    ExitInterrupted = 130 // interrupted or declined before any write began: nothing was written
};

// Options of the subcommands that have them.
struct CommonOptions
{
    bool yes = false;
    bool force = false;
    bool dryRun = false;
    bool allowReinstall = false;
    bool allowOlder = false;
    QString camera; // --camera SERIAL|PATH|INDEX
    QString wheel;  // --wheel SERIAL|ID
    QString backup; // --backup FILE
    int waitSeconds = 30;
};

// Runs one command line (arguments without the program name); returns the exit code.
int runCli(const QStringList& arguments);

// Subcommands. Each reports through `out` and returns an exit code.
int listDevices(Output& out);
int cameraInfo(Output& out, const CommonOptions& o);
int cameraReset(Output& out, const CommonOptions& o);
int cameraWrite(Output& out, const CommonOptions& o, bool fpga, const QString& file);
int cameraBackup(Output& out, const CommonOptions& o, const QString& fwFile, const QString& fpgaFile);
int cameraVerify(Output& out, const CommonOptions& o, bool fpga, const QString& file);
int cameraRecover(Output& out, const CommonOptions& o, const QString& file);
int wheelInfo(Output& out, const CommonOptions& o);
int wheelGoto(Output& out, const CommonOptions& o, int slot);
int wheelWrite(Output& out, const CommonOptions& o, const QString& file);

#endif
