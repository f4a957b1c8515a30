// The Chinese catalogue covers every translated text of the sources, and every entry is translated.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {
struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

QVector<Message> readCatalogue(const QString& path, QString* error)
{
    QVector<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open ") + path;
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const QStringRef name = xml.name();
        if (name == QLatin1String("context")) {
            context.clear();
        } else if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            current = Message{context, QString(), QString(), QString()};
        } else if (name == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            current.translation = xml.readElementText();
            messages.append(current);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

QString key(const Message& m)
{
    return m.context + QLatin1String(" | ") + m.source;
}
} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

    QVector<Message> committed;

private slots:
    void initTestCase()
    {
        QString error;
        committed = readCatalogue(QStringLiteral(SOURCE_DIR "/translations/Flashwick_zh_CN.ts"), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!committed.isEmpty());
    }

    void everyEntryTranslated()
    {
        QStringList missing;
        for (const Message& m : qAsConst(committed)) {
            if (!m.type.isEmpty() || m.translation.trimmed().isEmpty())
                missing << key(m) + QLatin1String(" [") + m.type + QLatin1Char(']');
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
    }

    void placeholdersKept()
    {
        QStringList wrong;
        const QRegularExpression placeholder(QStringLiteral("%\\d"));
        for (const Message& m : qAsConst(committed)) {
            auto collect = [&placeholder](const QString& text) {
                QStringList found;
                auto it = placeholder.globalMatch(text);
                while (it.hasNext())
                    found << it.next().captured();
                found.sort();
                return found;
            };
            if (collect(m.source) != collect(m.translation) ||
                m.source.count(QLatin1Char('\n')) != m.translation.count(QLatin1Char('\n')))
                wrong << key(m);
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    }

    // The message boxes' standard buttons (Qt's own texts) show in Chinese with the one catalogue.
    void standardButtonsTranslated()
    {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(QM_FILE)));
        QCOMPARE(translator.translate("QPlatformTheme", "OK"), QString::fromUtf8("确定"));
        QCOMPARE(translator.translate("QPlatformTheme", "Cancel"), QString::fromUtf8("取消"));
        QVERIFY(!translator.translate("QPlatformTheme", "&Yes").isEmpty());
        QVERIFY(!translator.translate("QPlatformTheme", "&No").isEmpty());
    }

    // lupdate on the sources now: every text they translate must be in the catalogue.
    void catalogueCoversTheSources()
    {
        QTemporaryDir dir;
        const QString fresh = dir.filePath(QStringLiteral("fresh.ts"));
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(LUPDATE_EXECUTABLE),
                      {QStringLiteral("-no-obsolete"), QStringLiteral("-locations"), QStringLiteral("none"),
                       QStringLiteral(SOURCE_DIR "/src"), QStringLiteral("-ts"), fresh});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());
        QString error;
        const QVector<Message> current = readCatalogue(fresh, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!current.isEmpty());

        QSet<QString> known;
        for (const Message& m : qAsConst(committed))
            known.insert(key(m));
        QStringList missing;
        QSet<QString> used;
        for (const Message& m : current) {
            used.insert(key(m));
            if (!known.contains(key(m)))
                missing << key(m);
        }
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("not in the catalogue:\n") + missing.join(QLatin1Char('\n'))));
        // Qt's own standard-button texts are carried in the catalogue too, under Qt's context.
        QStringList stale;
        for (const Message& m : qAsConst(committed))
            if (!used.contains(key(m)) && m.context != QLatin1String("QPlatformTheme"))
                stale << key(m);
        QVERIFY2(stale.isEmpty(),
                 qPrintable(QStringLiteral("no longer in the sources:\n") + stale.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
