// Command line: global options, subcommands, their options and help.
#include "cli.h"

#include "clitext.h"
#include "devicetrace.h"
#include "help.h"
#include "output.h"
#include "refusals.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>
#include <memory>

using CliText::Section;

namespace {

const char* const Program = "flashwick-cli";

void print(FILE* stream, const QString& text)
{
    fputs(text.toLocal8Bit().constData(), stream);
    fflush(stream);
}

int usageError(Output& out, const QString& message, const QString& command)
{
    return out.result(ExitUsage,
                      message + QStringLiteral(" (see \"%1 help%2\")")
                                    .arg(QLatin1String(Program),
                                         command.isEmpty() ? QString() : QLatin1Char(' ') + command));
}

QCommandLineOption makeOption(const Section& s)
{
    QStringList names{s.name};
    const QString shortName = s.value(QStringLiteral("short"));
    if (!shortName.isEmpty())
        names.prepend(shortName);
    return QCommandLineOption(names, s.text(), s.value(QStringLiteral("value")),
                              s.value(QStringLiteral("default")));
}

// Options that take a value, as "--name": their value is never taken for a global option.
QStringList valueOptions()
{
    QStringList list;
    for (const Section* o : CliText::all(QStringLiteral("option")))
        if (!o->value(QStringLiteral("value")).isEmpty())
            list << QStringLiteral("--") + o->name;
    return list;
}

const Section* findCommand(const QString& name)
{
    return CliText::find(QStringLiteral("command"), name);
}

bool isGroup(const QString& word)
{
    return word == QLatin1String("camera") || word == QLatin1String("wheel");
}

// "help [COMMAND]": the text for the words after "help", or a usage error.
int help(Output& out, const QStringList& words)
{
    if (words.contains(QLatin1String("-h")) || words.contains(QLatin1String("--help")))
        return help(out, {QStringLiteral("help")});
    const QString name = words.join(QLatin1Char(' '));
    if (name.isEmpty()) {
        print(stdout, programHelp());
        return ExitOk;
    }
    if (isGroup(name)) {
        print(stdout, groupHelp(name));
        return ExitOk;
    }
    if (const Section* c = findCommand(name)) {
        print(stdout, commandHelp(*c));
        return ExitOk;
    }
    return usageError(out, QStringLiteral("unknown command \"%1\"").arg(name), QString());
}

int dispatch(Output& out, const QStringList& arguments);

} // namespace

int runCli(const QStringList& arguments)
{
    // Global options count wherever they stand before "--"; an option's value is not one.
    bool json = false, quiet = false, verbose = false;
    QStringList rest;
    const QStringList takesValue = valueOptions();
    bool literal = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (!literal) {
            if (a == QLatin1String("--")) {
                literal = true;
            } else if (a == QLatin1String("--json")) {
                json = true;
                continue;
            } else if (a == QLatin1String("-q") || a == QLatin1String("--quiet")) {
                quiet = true;
                continue;
            } else if (a == QLatin1String("--verbose")) {
                verbose = true;
                continue;
            } else if (takesValue.contains(a) && i + 1 < arguments.size()) {
                rest << a << arguments.at(++i);
                continue;
            }
        }
        rest << a;
    }
    Output out(json, verbose ? Output::Verbosity::Verbose
                     : quiet ? Output::Verbosity::Quiet
                             : Output::Verbosity::Normal);
    if (quiet && verbose)
        return usageError(out, QStringLiteral("--quiet and --verbose exclude each other"), QString());
    std::unique_ptr<DeviceTrace> trace;
    if (verbose)
        trace = std::make_unique<DeviceTrace>(out);
    return dispatch(out, rest);
}

namespace {

int dispatch(Output& out, const QStringList& arguments)
{
    const QString first = arguments.value(0);
    if (first.isEmpty()) {
        if (out.json())
            return usageError(out, QStringLiteral("no command given"), QString());
        print(stderr, programHelp());
        return ExitUsage;
    }
    if (first == QLatin1String("-h") || first == QLatin1String("--help"))
        return help(out, {});
    if (first == QLatin1String("help"))
        return help(out, arguments.mid(1));
    if (first == QLatin1String("-v") || first == QLatin1String("--version")) {
        const QString version =
            QStringLiteral("%1 %2").arg(QLatin1String(Program), QStringLiteral(FLASHWICK_VERSION));
        if (out.json())
            return out.result(ExitOk, version);
        print(stdout, version + QLatin1Char('\n'));
        return ExitOk;
    }

    QString name = first;
    int used = 1;
    if (isGroup(first)) {
        const QString action = arguments.value(1);
        if (action.isEmpty() || action.startsWith(QLatin1Char('-'))) {
            if (action == QLatin1String("-h") || action == QLatin1String("--help"))
                return help(out, {first});
            if (!out.json())
                print(stderr, groupHelp(first) + QLatin1Char('\n'));
            return usageError(out, QStringLiteral("%1 needs an action").arg(first), first);
        }
        name += QLatin1Char(' ') + action;
        used = 2;
    }
    const Section* command = findCommand(name);
    if (!command)
        return usageError(out,
                          first.startsWith(QLatin1Char('-'))
                              ? QStringLiteral("unknown option \"%1\": a command comes first").arg(first)
                              : QStringLiteral("unknown command \"%1\"").arg(name),
                          QString());

    QCommandLineParser parser;
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")}, QString());
    parser.addOption(helpOption);
    const QStringList names =
        command->value(QStringLiteral("options")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& n : names)
        if (const Section* s = CliText::find(QStringLiteral("option"), n))
            parser.addOption(makeOption(*s));
    const QString positional = command->value(QStringLiteral("argument"));
    if (!positional.isEmpty())
        parser.addPositionalArgument(positional, QString());

    QStringList rest = arguments.mid(used);
    rest.prepend(QLatin1String(Program));
    if (!parser.parse(rest))
        return usageError(out, parser.errorText(), name);
    if (parser.isSet(helpOption)) {
        print(stdout, commandHelp(*command));
        return ExitOk;
    }
    auto has = [&](const char* option) {
        return names.contains(QLatin1String(option)) && parser.isSet(QLatin1String(option));
    };
    auto valueOf = [&](const char* option) {
        return names.contains(QLatin1String(option)) ? parser.value(QLatin1String(option)) : QString();
    };

    CommonOptions o;
    o.yes = has("yes");
    o.force = has("force");
    o.dryRun = has("dry-run");
    o.allowReinstall = has("allow-reinstall");
    o.allowOlder = has("allow-older");
    o.camera = valueOf("camera");
    o.wheel = valueOf("wheel");
    o.backup = valueOf("backup");
    if (names.contains(QLatin1String("wait"))) {
        bool ok = false;
        o.waitSeconds = parser.value(QStringLiteral("wait")).toInt(&ok);
        if (!ok || o.waitSeconds < 1 || o.waitSeconds > 3600)
            return usageError(out, QStringLiteral("--wait takes a number of seconds from 1 to 3600"), name);
    }
    if (has("camera") && o.camera.isEmpty())
        return usageError(out, QStringLiteral("--camera needs a serial number, path or index"), name);
    if (has("wheel") && o.wheel.isEmpty())
        return usageError(out, QStringLiteral("--wheel needs a serial number or id"), name);

    const QStringList arguments2 = parser.positionalArguments();
    const int wanted = positional.isEmpty() ? 0 : 1;
    if (arguments2.size() != wanted)
        return usageError(out,
                          arguments2.size() < wanted
                              ? QStringLiteral("%1 is missing").arg(positional)
                              : QStringLiteral("unexpected argument \"%1\"").arg(arguments2.value(wanted)),
                          name);
    const QString argument = arguments2.value(0);

    // Files the command would create: checked before any device is touched.
    const QString fwFile = valueOf("fw"), fpgaFile = valueOf("fpga");
    QStringList outputs{o.backup, fwFile, fpgaFile};
    outputs.removeAll(QString());
    for (const QString& file : outputs) {
        const QString problem = backupTargetProblem(file);
        if (!problem.isEmpty())
            return usageError(out, problem, name);
    }
    if (!fwFile.isEmpty() && !fpgaFile.isEmpty() &&
        QFileInfo(fwFile).absoluteFilePath() == QFileInfo(fpgaFile).absoluteFilePath())
        return usageError(out, QStringLiteral("--fw and --fpga name the same file"), name);

    if (name == QLatin1String("list"))
        return listDevices(out);
    if (name == QLatin1String("camera info"))
        return cameraInfo(out, o);
    if (name == QLatin1String("camera reset"))
        return cameraReset(out, o);
    if (name == QLatin1String("camera write-fw") || name == QLatin1String("camera write-fpga"))
        return cameraWrite(out, o, name.endsWith(QLatin1String("fpga")), argument);
    if (name == QLatin1String("camera backup")) {
        if (outputs.isEmpty())
            return usageError(out, QStringLiteral("give --fw OUT, --fpga OUT or both"), name);
        return cameraBackup(out, o, fwFile, fpgaFile);
    }
    if (name == QLatin1String("camera recover"))
        return cameraRecover(out, o, argument);
    if (name == QLatin1String("camera verify-fw") || name == QLatin1String("camera verify-fpga"))
        return cameraVerify(out, o, name.endsWith(QLatin1String("fpga")), argument);
    if (name == QLatin1String("wheel info"))
        return wheelInfo(out, o);
    if (name == QLatin1String("wheel goto")) {
        bool ok = false;
        const int slot = argument.toInt(&ok);
        if (!ok || slot < 1)
            return usageError(out, QStringLiteral("N is a slot number from 1"), name);
        return wheelGoto(out, o, slot);
    }
    if (name == QLatin1String("wheel write"))
        return wheelWrite(out, o, argument);
    return usageError(out, QStringLiteral("\"%1\" is not built in").arg(name), QString());
}

} // namespace
