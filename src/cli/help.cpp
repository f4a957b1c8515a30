#include "help.h"

#include "clitext.h"

using namespace CliText;

namespace {

constexpr int Width = 80;
constexpr int OptionColumn = 24;
const char* const Program = "flashwick-cli";

QString capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text;
}

// "  LABEL   text", the text filled from OptionColumn; on its own line below a long label.
QString entry(const QString& label, const QString& text, int column = OptionColumn)
{
    const QString head = QStringLiteral("  ") + label;
    if (head.size() + 2 <= column) {
        QString filled = fill(text, column, Width);
        return filled.replace(0, head.size(), head);
    }
    return head + QLatin1Char('\n') + fill(text, column, Width);
}

QString optionLabel(const Section& option)
{
    QString label;
    const QString shortName = option.value(QStringLiteral("short"));
    if (!shortName.isEmpty())
        label = QStringLiteral("-%1, ").arg(shortName);
    label += QStringLiteral("--") + option.name;
    const QString value = option.value(QStringLiteral("value"));
    if (!value.isEmpty())
        label += QLatin1Char(' ') + value;
    return label;
}

QString optionText(const Section& option)
{
    QString text = option.text();
    const QString fallback = option.value(QStringLiteral("default"));
    if (!fallback.isEmpty())
        text += QStringLiteral(" Default: %1.").arg(fallback);
    return text;
}

QString optionsOfScope(const QString& scope)
{
    QString text;
    for (const Section* o : all(QStringLiteral("option")))
        if (o->value(QStringLiteral("scope")) == scope)
            text += entry(optionLabel(*o), optionText(*o));
    return text;
}

QString commandHead(const Section& c)
{
    return QStringLiteral("%1 %2").arg(c.name, c.value(QStringLiteral("usage"))).trimmed();
}

QString commandList(const QString& group)
{
    QString text = QStringLiteral("Commands:\n");
    for (const Section* c : all(QStringLiteral("command"))) {
        if (!group.isEmpty() && !c->name.startsWith(group + QLatin1Char(' ')))
            continue;
        text += entry(commandHead(*c), c->value(QStringLiteral("summary")), 28);
    }
    return text;
}

QString globalOptions()
{
    return QStringLiteral("Global options (before or after the command):\n") +
           optionsOfScope(QStringLiteral("global"));
}

} // namespace

QString exitCodesText()
{
    QString text = QStringLiteral("Exit codes:\n");
    for (const Section* e : all(QStringLiteral("exit"))) {
        const QString head = QStringLiteral("  %1").arg(e->name, -5);
        text += fill(e->text(), 7, Width).replace(0, head.size(), head);
    }
    return text;
}

QString programHelp()
{
    const Section* program = find(QStringLiteral("program"), QLatin1String(Program));
    QString text = QStringLiteral("Usage: %1 COMMAND [options] [ARGUMENTS]\n       %1 help [COMMAND]\n\n")
                       .arg(QLatin1String(Program));
    if (program)
        text += capitalised(program->value(QStringLiteral("summary"))) + QStringLiteral(".\n\n") +
                layout(program->body, 0, Width) + QLatin1Char('\n');
    text += commandList(QString()) + QLatin1Char('\n') + globalOptions() +
            optionsOfScope(QStringLiteral("top")) + QLatin1Char('\n');
    for (const Section* topic : all(QStringLiteral("topic"))) {
        if (topic->value(QStringLiteral("help")) != QLatin1String("top"))
            continue;
        text += capitalised(topic->name.toLower()) + QStringLiteral(":\n") + layout(topic->body, 2, Width) +
                QLatin1Char('\n');
    }
    text += fill(QStringLiteral("\"%1 help COMMAND\" (or \"%1 COMMAND --help\") describes a command and its "
                                "options; \"man %1\" also the --json events.")
                     .arg(QLatin1String(Program)),
                 0, Width);
    return text + QLatin1Char('\n') + exitCodesText();
}

QString groupHelp(const QString& group)
{
    return QStringLiteral("Usage: %1 %2 ACTION [options]\n\n").arg(QLatin1String(Program), group) +
           commandList(group) +
           QStringLiteral("\n\"%1 help %2 ACTION\" describes an action and its options.\n\n")
               .arg(QLatin1String(Program), group) +
           exitCodesText();
}

QString commandHelp(const Section& c)
{
    const QString usage = c.value(QStringLiteral("usage"));
    QString text =
        QStringLiteral("Usage: %1 %2 [options]%3\n\n")
            .arg(QLatin1String(Program), c.name, usage.isEmpty() ? QString() : QLatin1Char(' ') + usage);
    text += capitalised(c.value(QStringLiteral("summary"))) + QStringLiteral(".\n\n");
    if (!c.body.isEmpty())
        text += layout(c.body, 0, Width) + QLatin1Char('\n');
    const QString argument = c.value(QStringLiteral("argument"));
    if (!argument.isEmpty())
        text += QStringLiteral("Arguments:\n") + entry(argument, c.value(QStringLiteral("argument-help"))) +
                QLatin1Char('\n');
    const QStringList options =
        c.value(QStringLiteral("options")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!options.isEmpty()) {
        text += QStringLiteral("Options:\n");
        for (const QString& name : options)
            if (const Section* o = find(QStringLiteral("option"), name))
                text += entry(optionLabel(*o), optionText(*o));
        text += QLatin1Char('\n');
    }
    return text + globalOptions() + QLatin1Char('\n') + exitCodesText();
}
