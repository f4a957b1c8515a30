// Command line: subcommands, their options and help texts.
#include "cli.h"

#include "output.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

namespace {

const char* const Program = "flashwick-cli";

const char* const ExitCodesText =
    "Exit codes:\n"
    "  0    success\n"
    "  1    a device operation failed, or verify found a difference\n"
    "  2    usage error (also: a write without --yes where no terminal can confirm it)\n"
    "  3    no such device, or the choice of device is ambiguous\n"
    "  4    file refused: missing, empty, too large, wrong signature, HEX error,\n"
    "       version rule\n"
    "  5    the wheel did not come back after its update, or runs another version\n"
    "  130  interrupted (Ctrl-C) or not confirmed before any write began: nothing\n"
    "       was written\n";

enum Option
{
    OptJson = 1 << 0,
    OptCamera = 1 << 1,
    OptYes = 1 << 2,
    OptForce = 1 << 3,
    OptBackup = 1 << 4,
    OptAreas = 1 << 5, // --fw and --fpga
    OptWheel = 1 << 6,
    OptWait = 1 << 7,
};

struct Command
{
    const char* name; // "camera write-fw"
    const char* arguments;
    const char* summary;
    const char* details;
    int options;
    const char* positional; // name of the one positional argument, or nullptr
    const char* positionalHelp;
};

const Command Commands[] = {
    {"list", "", "cameras, filter wheels and wheel bootloaders present",
     "Lists the cameras (index, name, path, serial number, firmware and FPGA versions, link), the filter "
     "wheels\n"
     "(id, name, serial number, firmware version, slots) and the wheel bootloaders present.",
     OptJson, nullptr, nullptr},
    {"camera info", "", "versions, serial number and link of a camera",
     "Shows the camera's name, path, serial number, firmware version, FPGA version and link.",
     OptJson | OptCamera, nullptr, nullptr},
    {"camera write-fw", "FILE", "write a firmware image (*.img) into the camera's flash",
     "Erases the firmware area, writes FILE in 4096-byte chunks and reads every chunk back. FILE must start\n"
     "with the FX3 boot-image signature \"CY\" unless --force is given. Asks for confirmation on a "
     "terminal.\n"
     "Ctrl-C before the erase begins stops with nothing written; later, the write finishes first.",
     OptJson | OptCamera | OptYes | OptForce | OptBackup, "FILE", "The firmware image to write."},
    {"camera write-fpga", "FILE", "write an FPGA bitstream (*.bit) into the camera's flash",
     "Writes 256 bytes of 0xFF and FILE into the FPGA area, reads every chunk back, then writes the header\n"
     "record that locates the bitstream. Needs --yes or the typed answer \"yes\". An FX3 boot image or\n"
     "Intel HEX text is refused unless --force is given.\n"
     "Ctrl-C before the erase begins stops with nothing written; later, the write finishes first.",
     OptJson | OptCamera | OptYes | OptForce | OptBackup, "FILE", "The FPGA bitstream to write."},
    {"camera backup", "[--fw OUT.img] [--fpga OUT.bit]", "save the camera's flash areas to files",
     "--fw saves the whole firmware area (262144 bytes). --fpga saves the bitstream that the header record\n"
     "locates, as it was written (the 256 bytes of 0xFF in front of it removed); when the record is not "
     "valid\n"
     "it says so and saves the whole FPGA area. Existing files are never overwritten.",
     OptJson | OptCamera | OptAreas, nullptr, nullptr},
    {"camera verify-fw", "FILE", "compare the camera's firmware area with FILE",
     "Reads the firmware area without writing anything. Exit code 0 when it holds FILE, otherwise 1 with "
     "the\n"
     "first differing offset and the number of differing bytes.",
     OptJson | OptCamera, "FILE", "The file to compare with."},
    {"camera verify-fpga", "FILE", "compare the camera's FPGA area and header record with FILE",
     "Reads the header record and the FPGA area without writing anything. Exit code 0 when they are what a\n"
     "write of FILE leaves, otherwise 1 with the first differing offset of the file and the number of\n"
     "differing bytes.",
     OptJson | OptCamera, "FILE", "The file to compare with."},
    {"camera reset", "", "restart the camera's USB controller",
     "Sends the reset request; the camera leaves the bus and comes back a few seconds later.",
     OptJson | OptCamera, nullptr, nullptr},
    {"wheel info", "", "versions, serial number and position of a filter wheel",
     "Shows the wheel's name, id, serial number, firmware version, slot count and current slot.",
     OptJson | OptWheel, nullptr, nullptr},
    {"wheel goto", "N", "move a filter wheel to slot N (the first slot is 1)",
     "Moves the wheel and waits (at most --wait seconds) until it stands at slot N.",
     OptJson | OptWheel | OptWait, "N", "The slot to move to, from 1 to the slot count."},
    {"wheel write", "FILE", "write a firmware file (*.hex) through the wheel's bootloader",
     "Checks the version in the file name against the wheel's (the first digit must match), parses FILE and\n"
     "checks that the image fits, then sends the wheel to its bootloader, waits for it (at most --wait\n"
     "seconds), erases, writes and starts the new firmware, and waits (at most --wait seconds) for the "
     "wheel\n"
     "to come back with the version of the file name. Asks for confirmation on a terminal.",
     OptJson | OptWheel | OptYes | OptWait, "FILE",
     "The firmware file (*.hex); its name carries the version."},
};

const Command* findCommand(const QString& name)
{
    for (const Command& c : Commands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

QString topHelp(const QString& group = QString())
{
    QString text =
        QStringLiteral("Usage: %1 %2 [options]\n\n")
            .arg(QLatin1String(Program), group.isEmpty() ? QStringLiteral("COMMAND") : group + " ACTION");
    if (group.isEmpty())
        text +=
            QStringLiteral("Updates Quenvor cameras and ZW filter wheels from a terminal or a script.\n\n");
    text += QStringLiteral("Commands:\n");
    for (const Command& c : Commands) {
        const QString name = QLatin1String(c.name);
        if (!group.isEmpty() && !name.startsWith(group + QLatin1Char(' ')))
            continue;
        const QString head = QStringLiteral("%1 %2").arg(name, QLatin1String(c.arguments)).trimmed();
        if (head.size() > 34)
            text += QStringLiteral("  %1\n  %2  %3\n")
                        .arg(head, QString(34, QLatin1Char(' ')), QLatin1String(c.summary));
        else
            text += QStringLiteral("  %1  %2\n").arg(head, -34).arg(QLatin1String(c.summary));
    }
    text += QStringLiteral("\n\"%1 COMMAND --help\" describes the options of a command.\n"
                           "Every write asks for confirmation on a terminal; --yes skips the question.\n"
                           "Progress goes to stderr: a bar on a terminal, a line at every 10 % otherwise;\n"
                           "--json prints one JSON object per event on stdout instead.\n\n")
                .arg(QLatin1String(Program));
    text += QLatin1String(ExitCodesText);
    if (group.isEmpty())
        text += QStringLiteral(
            "\nOptions:\n  -h, --help     this text\n  -v, --version  the program's version\n");
    return text;
}

void print(FILE* stream, const QString& text)
{
    fputs(text.toLocal8Bit().constData(), stream);
    fflush(stream);
}

int usageError(const QString& message, const QString& command, bool json)
{
    Output out(json);
    out.result(ExitUsage,
               message + QStringLiteral(" (see %1 %2 --help)").arg(QLatin1String(Program), command));
    return ExitUsage;
}

} // namespace

int runCli(const QStringList& arguments)
{
    const QString first = arguments.value(0);
    if (first.isEmpty()) {
        print(stderr, topHelp());
        return ExitUsage;
    }
    if (first == QLatin1String("-h") || first == QLatin1String("--help") || first == QLatin1String("help")) {
        print(stdout, topHelp());
        return ExitOk;
    }
    if (first == QLatin1String("-v") || first == QLatin1String("--version")) {
        print(stdout,
              QStringLiteral("%1 %2\n").arg(QLatin1String(Program), QStringLiteral(FLASHWICK_VERSION)));
        return ExitOk;
    }

    QString name = first;
    int used = 1;
    if (first == QLatin1String("camera") || first == QLatin1String("wheel")) {
        const QString action = arguments.value(1);
        if (action.isEmpty() || action.startsWith(QLatin1Char('-'))) {
            const bool help = action == QLatin1String("-h") || action == QLatin1String("--help");
            print(help ? stdout : stderr, topHelp(first));
            return help ? ExitOk : ExitUsage;
        }
        name += QLatin1Char(' ') + action;
        used = 2;
    }
    const Command* command = findCommand(name);
    if (!command) {
        print(stderr,
              QStringLiteral("%1: unknown command \"%2\"\n\n").arg(QLatin1String(Program), name) + topHelp());
        return ExitUsage;
    }

    QCommandLineParser parser;
    QString description = QLatin1String(command->summary) + QLatin1Char('.');
    description[0] = description.at(0).toUpper();
    parser.setApplicationDescription(description);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("This text."));
    const QCommandLineOption json(
        QStringLiteral("json"),
        QStringLiteral("Print one JSON object per event (log, progress, error, data, result) "
                       "on stdout."));
    const QCommandLineOption camera(
        QStringLiteral("camera"),
        QStringLiteral("The camera: serial number, path or index in the list. Required "
                       "when more than one camera is connected."),
        QStringLiteral("camera"));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Write without asking."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("Write a file refused for its kind: a firmware image without the FX3 boot-image "
                       "signature \"CY\", an FX3 boot image or Intel HEX text as FPGA bitstream."));
    const QCommandLineOption backup(
        QStringLiteral("backup"),
        QStringLiteral("First save what the area holds (as \"camera backup\" does) to "
                       "<file>; no write when that fails."),
        QStringLiteral("file"));
    const QCommandLineOption fw(QStringLiteral("fw"), QStringLiteral("Save the firmware area to <file>."),
                                QStringLiteral("file"));
    const QCommandLineOption fpga(
        QStringLiteral("fpga"), QStringLiteral("Save the FPGA bitstream to <file>."), QStringLiteral("file"));
    const QCommandLineOption wheel(
        QStringLiteral("wheel"),
        QStringLiteral("The wheel: serial number or id. Required when more than one wheel "
                       "is connected."),
        QStringLiteral("wheel"));
    const QCommandLineOption wait(
        QStringLiteral("wait"),
        QStringLiteral("Longest wait, in seconds, for each of the wheel's steps: reaching "
                       "its slot, its bootloader appearing, its return (default 30)."),
        QStringLiteral("seconds"), QStringLiteral("30"));
    parser.addOption(help);
    const struct
    {
        int flag;
        const QCommandLineOption* option;
    } table[] = {{OptJson, &json}, {OptCamera, &camera}, {OptWheel, &wheel},
                 {OptYes, &yes},   {OptForce, &force},   {OptBackup, &backup},
                 {OptAreas, &fw},  {OptAreas, &fpga},    {OptWait, &wait}};
    for (const auto& entry : table)
        if (command->options & entry.flag)
            parser.addOption(*entry.option);
    if (command->positional)
        parser.addPositionalArgument(QLatin1String(command->positional),
                                     QLatin1String(command->positionalHelp));

    QStringList rest = arguments.mid(used);
    rest.prepend(QLatin1String(Program));
    const bool jsonWanted = (command->options & OptJson) && rest.contains(QStringLiteral("--json"));
    if (!parser.parse(rest))
        return usageError(parser.errorText(), name, jsonWanted);
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(0, text.indexOf(QLatin1Char('\n')),
                     QStringLiteral("Usage: %1 %2 [options] %3")
                         .arg(QLatin1String(Program), name, QLatin1String(command->arguments)));
        const int optionsAt = text.indexOf(QStringLiteral("\nOptions:"));
        text.insert(optionsAt, QLatin1Char('\n') + QLatin1String(command->details) + QLatin1Char('\n'));
        text += QLatin1Char('\n') + QLatin1String(ExitCodesText);
        print(stdout, text);
        return ExitOk;
    }

    CommonOptions o;
    o.json = parser.isSet(json);
    o.yes = (command->options & OptYes) && parser.isSet(yes);
    o.force = (command->options & OptForce) && parser.isSet(force);
    if (command->options & OptCamera)
        o.camera = parser.value(camera);
    if (command->options & OptWheel)
        o.wheel = parser.value(wheel);
    if (command->options & OptWait) {
        bool ok = false;
        o.waitSeconds = parser.value(wait).toInt(&ok);
        if (!ok || o.waitSeconds < 1 || o.waitSeconds > 3600)
            return usageError(QStringLiteral("--wait takes a number of seconds from 1 to 3600"), name,
                              o.json);
    }
    if ((command->options & OptCamera) && parser.isSet(camera) && o.camera.isEmpty())
        return usageError(QStringLiteral("--camera needs a serial number, path or index"), name, o.json);
    if ((command->options & OptWheel) && parser.isSet(wheel) && o.wheel.isEmpty())
        return usageError(QStringLiteral("--wheel needs a serial number or id"), name, o.json);

    const QStringList positional = parser.positionalArguments();
    const int wanted = command->positional ? 1 : 0;
    if (positional.size() != wanted)
        return usageError(positional.size() < wanted
                              ? QStringLiteral("%1 is missing").arg(QLatin1String(command->positional))
                              : QStringLiteral("unexpected argument \"%1\"").arg(positional.value(wanted)),
                          name, o.json);
    const QString argument = positional.value(0);

    // Files the command would create must not exist yet, nor be the file it reads.
    QStringList outputs;
    if (command->options & OptBackup)
        outputs << parser.value(backup);
    if (command->options & OptAreas)
        outputs << parser.value(fw) << parser.value(fpga);
    outputs.removeAll(QString());
    for (const QString& file : outputs) {
        if (QFileInfo::exists(file) || QFileInfo(file).isSymLink())
            return usageError(QStringLiteral("%1 exists already; backups never overwrite a file").arg(file),
                              name, o.json);
    }
    if (outputs.size() == 2 &&
        QFileInfo(outputs.at(0)).absoluteFilePath() == QFileInfo(outputs.at(1)).absoluteFilePath())
        return usageError(QStringLiteral("--fw and --fpga name the same file"), name, o.json);

    Output out(o.json);
    if (name == QLatin1String("list"))
        return listDevices(out);
    if (name == QLatin1String("camera info"))
        return cameraInfo(out, o);
    if (name == QLatin1String("camera reset"))
        return cameraReset(out, o);
    if (name == QLatin1String("camera write-fw") || name == QLatin1String("camera write-fpga"))
        return cameraWrite(out, o, name.endsWith(QLatin1String("fpga")), argument, parser.value(backup));
    if (name == QLatin1String("camera backup")) {
        if (outputs.isEmpty())
            return usageError(QStringLiteral("give --fw OUT, --fpga OUT or both"), name, o.json);
        return cameraBackup(out, o, parser.value(fw), parser.value(fpga));
    }
    if (name == QLatin1String("camera verify-fw") || name == QLatin1String("camera verify-fpga"))
        return cameraVerify(out, o, name.endsWith(QLatin1String("fpga")), argument);
    if (name == QLatin1String("wheel info"))
        return wheelInfo(out, o);
    if (name == QLatin1String("wheel goto")) {
        bool ok = false;
        const int slot = argument.toInt(&ok);
        if (!ok || slot < 1)
            return usageError(QStringLiteral("N is a slot number from 1"), name, o.json);
        return wheelGoto(out, o, slot);
    }
    return wheelWrite(out, o, argument);
}
