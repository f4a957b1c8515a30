// The help texts of flashwick-cli, laid out from the command line's texts (commandline.txt).
#ifndef HELP_H
#define HELP_H

#include <QString>

namespace CliText {
struct Section;
}

QString programHelp();
// The commands of one group ("camera", "wheel").
QString groupHelp(const QString& group);
QString commandHelp(const CliText::Section& command);
QString exitCodesText();

#endif
