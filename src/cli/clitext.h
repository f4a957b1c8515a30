// The texts of the command line, read from the text compiled into the program (commandline.txt):
// options, commands, help topics, exit codes and the schema of the --json events. The build turns
// the same text into the man page and the bash completion.
#ifndef CLITEXT_H
#define CLITEXT_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace CliText {

// A paragraph (its lines joined with spaces) or literal lines, kept as they are.
struct Block
{
    bool literal = false;
    QStringList lines;
};

struct Section
{
    QString kind; // program, option, command, topic, exit, schema, object, event
    QString name; // the rest of the header line
    QList<QPair<QString, QString>> fields;
    QList<Block> body;

    QString value(const QString& key) const;      // the first field `key`, or empty
    QStringList values(const QString& key) const; // every field `key`, in order
    QString text() const;                         // the body's paragraphs joined with spaces
};

// A field of a JSON event or object: "field: NAME TYPE [optional] DESCRIPTION".
struct Field
{
    QString name;
    QString type; // alternatives joined with "|": string, integer, number, boolean, null, 'literal',
                  // array:TYPE or the name of an object section
    bool optional = false;
    QString description;
};

// Parses the text format; unknown lines become body text.
QList<Section> parse(const QByteArray& text);

// The compiled-in text, parsed once.
const QList<Section>& sections();
const Section* find(const QString& kind, const QString& name);
QList<const Section*> all(const QString& kind);

// The fields of an event or object section: those of the object named by "like:" first.
QList<Field> fields(const Section& section);
Field parseField(const QString& value);

// Plain text laid out for a terminal: paragraphs filled to `width` columns after `indent` spaces,
// literal lines kept.
QString layout(const QList<Block>& body, int indent, int width);
QString fill(const QString& text, int indent, int width, int firstIndent = -1);

} // namespace CliText

#endif
