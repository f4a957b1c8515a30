// The log line that explains why wheels cannot be controlled.
#include "devizuvezloader.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

namespace {

QString fromNative(const std::string& text)
{
#if defined(_WIN32)
    return QString::fromStdString(text);
#else
    return QFile::decodeName(QByteArray::fromStdString(text));
#endif
}

QString placesLookedFor(const DevizuvezLoadReport& report)
{
    QStringList places;
    for (const std::string& place : report.lookedFor) {
        const QString name = fromNative(place);
        if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
            places << name;
        else
            places
                << QCoreApplication::translate("MainWindow", "%1 in the system's library folders").arg(name);
    }
    return places.join(QStringLiteral(", "));
}

} // namespace

QString devizuvezLoadProblem()
{
    const DevizuvezLoadReport& report = devizuvezLoadReport();
    const QString file = fromNative(report.file);
    switch (report.outcome) {
    case DevizuvezLoadReport::Loaded:
        return QString();
    case DevizuvezLoadReport::NotFound:
        return QCoreApplication::translate(
                   "MainWindow", "Filter wheel library DevizuvEZ not found (looked for %1): wheels cannot be "
                                 "controlled. Install the maker's library (see README).")
            .arg(placesLookedFor(report));
    case DevizuvezLoadReport::LoadFailed:
        return QCoreApplication::translate(
                   "MainWindow",
                   "Filter wheel library %1 cannot be loaded (%2): wheels cannot be controlled. "
                   "Install the maker's library (see README).")
            .arg(file, fromNative(report.systemError));
    case DevizuvezLoadReport::EntryPointsMissing: {
        QStringList names;
        for (const std::string& name : report.missingEntryPoints)
            names << QString::fromStdString(name);
        return QCoreApplication::translate(
                   "MainWindow", "Filter wheel library %1 lacks the function(s) %2: wheels cannot be "
                                 "controlled. Install the maker's library (see README).")
            .arg(file, names.join(QStringLiteral(", ")));
    }
    }
    return QString();
}
