// 60-flashwick.rules: every line is well-formed udev syntax, and the rules give the seat user
// access to exactly the Quenvor camera and wheel nodes. udev 252 has no offline checker
// (udevadm verify came later, and udevadm test acts on the live system), so the lines are parsed
// here and evaluated against device trees shaped like the kernel's.
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <fnmatch.h>

namespace {

struct Token
{
    QString key;  // "ATTRS"
    QString attr; // "idVendor" (keys with {})
    QString op;   // "==", "!=", "=", "+=", "-=", ":="
    QString value;
};

struct Rule
{
    int line = 0;
    QList<Token> tokens;
};

const QStringList matchOnlyKeys{
    QStringLiteral("ACTION"),  QStringLiteral("DEVPATH"),   QStringLiteral("KERNEL"),
    QStringLiteral("KERNELS"), QStringLiteral("SUBSYSTEM"), QStringLiteral("SUBSYSTEMS"),
    QStringLiteral("DRIVER"),  QStringLiteral("DRIVERS"),   QStringLiteral("ATTRS"),
    QStringLiteral("TAGS"),    QStringLiteral("TEST"),      QStringLiteral("RESULT"),
    QStringLiteral("PROGRAM"), QStringLiteral("CONST"),     QStringLiteral("SYSCTL")};
const QStringList assignOnlyKeys{
    QStringLiteral("MODE"),  QStringLiteral("OWNER"),   QStringLiteral("GROUP"),
    QStringLiteral("RUN"),   QStringLiteral("OPTIONS"), QStringLiteral("GOTO"),
    QStringLiteral("LABEL"), QStringLiteral("IMPORT"),  QStringLiteral("SECLABEL"),
};
const QStringList eitherKeys{QStringLiteral("ATTR"), QStringLiteral("ENV"), QStringLiteral("TAG"),
                             QStringLiteral("NAME"), QStringLiteral("SYMLINK")};
const QStringList keysWithAttr{
    QStringLiteral("ATTR"),   QStringLiteral("ATTRS"),  QStringLiteral("ENV"),
    QStringLiteral("TEST"),   QStringLiteral("SYSCTL"), QStringLiteral("CONST"),
    QStringLiteral("IMPORT"), QStringLiteral("RUN"),    QStringLiteral("SECLABEL")};
const QStringList attrRequired{QStringLiteral("ATTR"),   QStringLiteral("ATTRS"), QStringLiteral("ENV"),
                               QStringLiteral("SYSCTL"), QStringLiteral("CONST"), QStringLiteral("SECLABEL")};

bool isMatchOp(const QString& op)
{
    return op == QLatin1String("==") || op == QLatin1String("!=");
}

// Parses one logical line; empty error on success.
QString parseLine(const QString& text, QList<Token>& tokens)
{
    static const QRegularExpression tokenPattern(QStringLiteral(
        "\\s*([A-Z_]+)(?:\\{([^}]*)\\})?\\s*(==|!=|\\+=|-=|:=|=)\\s*\"((?:[^\"\\\\]|\\\\.)*)\"\\s*"));
    int pos = 0;
    tokens.clear();
    while (true) {
        const QRegularExpressionMatch m = tokenPattern.match(text, pos, QRegularExpression::NormalMatch,
                                                             QRegularExpression::AnchoredMatchOption);
        if (!m.hasMatch())
            return QStringLiteral("malformed key/value at column %1").arg(pos + 1);
        Token t{m.captured(1), m.captured(2), m.captured(3), m.captured(4)};
        const bool known =
            matchOnlyKeys.contains(t.key) || assignOnlyKeys.contains(t.key) || eitherKeys.contains(t.key);
        if (!known)
            return QStringLiteral("unknown key %1").arg(t.key);
        if (matchOnlyKeys.contains(t.key) && !isMatchOp(t.op))
            return QStringLiteral("%1 takes == or != only").arg(t.key);
        if (assignOnlyKeys.contains(t.key) && isMatchOp(t.op))
            return QStringLiteral("%1 cannot be matched").arg(t.key);
        if (m.capturedLength(2) == 0 && attrRequired.contains(t.key))
            return QStringLiteral("%1 needs {name}").arg(t.key);
        if (m.capturedLength(2) > 0 && !keysWithAttr.contains(t.key))
            return QStringLiteral("%1 takes no {name}").arg(t.key);
        tokens << t;
        pos = m.capturedEnd(0);
        if (pos >= text.size())
            break;
        if (text.at(pos) != QLatin1Char(','))
            return QStringLiteral("missing comma at column %1").arg(pos + 1);
        ++pos;
        if (text.mid(pos).trimmed().isEmpty())
            return QStringLiteral("trailing comma");
    }
    bool matches = false, assigns = false;
    for (const Token& t : tokens)
        (isMatchOp(t.op) ? matches : assigns) = true;
    if (!assigns)
        return QStringLiteral("no assignment");
    if (!matches)
        return QStringLiteral("no match: the rule would apply to every device");
    return QString();
}

// Logical lines (backslash continuations joined), without comments and blank lines.
QString parseRules(const QByteArray& contents, QList<Rule>& rules)
{
    const QStringList lines = QString::fromUtf8(contents).split(QLatin1Char('\n'));
    QString pending;
    int start = 0;
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (pending.isEmpty())
            start = i + 1;
        if (line.endsWith(QLatin1Char('\\'))) {
            pending += line.chopped(1);
            continue;
        }
        line = (pending + line).trimmed();
        pending.clear();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        Rule rule;
        rule.line = start;
        const QString error = parseLine(line, rule.tokens);
        if (!error.isEmpty())
            return QStringLiteral("line %1: %2").arg(start).arg(error);
        rules << rule;
    }
    return pending.isEmpty() ? QString() : QStringLiteral("continuation at end of file");
}

// A device and its parents, nearest first, as sysfs shows them.
struct Node
{
    QString subsystem;
    QString kernel;
    QMap<QString, QString> attrs;
    QMap<QString, QString> env;
};

bool globMatch(const QString& pattern, const QString& value)
{
    for (const QString& alternative : pattern.split(QLatin1Char('|')))
        if (::fnmatch(alternative.toUtf8().constData(), value.toUtf8().constData(), 0) == 0)
            return true;
    return false;
}

bool tokenMatches(const Token& t, const QString& actual, bool present)
{
    const bool equal = present && globMatch(t.value, actual);
    return t.op == QLatin1String("==") ? equal : !equal;
}

// Tags a rule set gives to chain.first(): udev's order, with the parent keys (KERNELS,
// SUBSYSTEMS, ATTRS) all matched on one device of the chain.
QStringList tagsFor(const QList<Rule>& rules, const QList<Node>& chain)
{
    QStringList tags;
    const Node& self = chain.first();
    for (const Rule& rule : rules) {
        bool ok = true;
        QList<Token> parentKeys;
        for (const Token& t : rule.tokens) {
            if (!isMatchOp(t.op))
                continue;
            if (t.key == QLatin1String("SUBSYSTEM"))
                ok = ok && tokenMatches(t, self.subsystem, true);
            else if (t.key == QLatin1String("KERNEL"))
                ok = ok && tokenMatches(t, self.kernel, true);
            else if (t.key == QLatin1String("ATTR"))
                ok = ok && tokenMatches(t, self.attrs.value(t.attr), self.attrs.contains(t.attr));
            else if (t.key == QLatin1String("ENV"))
                ok = ok && tokenMatches(t, self.env.value(t.attr), self.env.contains(t.attr));
            else if (t.key == QLatin1String("KERNELS") || t.key == QLatin1String("SUBSYSTEMS") ||
                     t.key == QLatin1String("ATTRS"))
                parentKeys << t;
            else
                ok = false; // keys this evaluator does not model make the rule inapplicable
        }
        if (ok && !parentKeys.isEmpty()) {
            ok = std::any_of(chain.begin(), chain.end(), [&](const Node& n) {
                return std::all_of(parentKeys.begin(), parentKeys.end(), [&](const Token& t) {
                    if (t.key == QLatin1String("KERNELS"))
                        return tokenMatches(t, n.kernel, true);
                    if (t.key == QLatin1String("SUBSYSTEMS"))
                        return tokenMatches(t, n.subsystem, true);
                    return tokenMatches(t, n.attrs.value(t.attr), n.attrs.contains(t.attr));
                });
            });
        }
        if (!ok)
            continue;
        for (const Token& t : rule.tokens)
            if (t.key == QLatin1String("TAG") && t.op == QLatin1String("+=") && !tags.contains(t.value))
                tags << t.value;
    }
    return tags;
}

Node usbDevice(const QString& kernel, const QString& vendor, const QString& product)
{
    return Node{QStringLiteral("usb"),
                kernel,
                {{QStringLiteral("idVendor"), vendor}, {QStringLiteral("idProduct"), product}},
                {{QStringLiteral("DEVTYPE"), QStringLiteral("usb_device")}}};
}

Node usbInterface(const QString& kernel)
{
    return Node{QStringLiteral("usb"),
                kernel,
                {{QStringLiteral("bInterfaceClass"), QStringLiteral("03")}},
                {{QStringLiteral("DEVTYPE"), QStringLiteral("usb_interface")}}};
}

Node hid(const QString& kernel)
{
    return Node{QStringLiteral("hid"), kernel, {}, {}};
}

Node hidraw(const QString& kernel)
{
    return Node{QStringLiteral("hidraw"), kernel, {{QStringLiteral("dev"), QStringLiteral("240:0")}}, {}};
}

} // namespace

Q_DECLARE_METATYPE(QList<Node>)

class TestUdevRules : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileNameOrdersBeforeSeatRules();
    void checkerRejectsBadLines_data();
    void checkerRejectsBadLines();
    void accessForQuenvorNodesOnly_data();
    void accessForQuenvorNodesOnly();

private:
    QList<Rule> rules;
};

void TestUdevRules::initTestCase()
{
    QFile file(QStringLiteral(FLASHWICK_UDEV_RULES));
    QVERIFY2(file.open(QIODevice::ReadOnly), FLASHWICK_UDEV_RULES);
    const QString error = parseRules(file.readAll(), rules);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!rules.isEmpty());
}

// logind's uaccess tag is acted on in 73-seat-late.rules; a later file would come too late.
void TestUdevRules::fileNameOrdersBeforeSeatRules()
{
    const QString name = QFileInfo(QStringLiteral(FLASHWICK_UDEV_RULES)).fileName();
    QVERIFY(name.endsWith(QLatin1String(".rules")));
    QVERIFY2(name < QLatin1String("73-seat-late.rules"), qPrintable(name));
}

// The checker must be able to fail: lines udev would refuse or misread.
void TestUdevRules::checkerRejectsBadLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown key") << QByteArray("FOO==\"x\", TAG+=\"uaccess\"\n") << "line 1: unknown key FOO";
    QTest::newRow("missing comma") << QByteArray("SUBSYSTEM==\"usb\" TAG+=\"uaccess\"\n")
                                   << "line 1: missing comma at column 18";
    QTest::newRow("unquoted value") << QByteArray("SUBSYSTEM==usb, TAG+=\"uaccess\"\n")
                                    << "line 1: malformed key/value at column 1";
    QTest::newRow("parent attribute assigned")
        << QByteArray("ATTRS{idVendor}=\"a0a0\", TAG+=\"uaccess\"\n") << "line 1: ATTRS takes == or != only";
    QTest::newRow("attribute without name")
        << QByteArray("# c\n\nATTR==\"a0a0\", TAG+=\"uaccess\"\n") << "line 3: ATTR needs {name}";
    QTest::newRow("match only") << QByteArray("SUBSYSTEM==\"usb\", ATTR{idVendor}==\"a0a0\"\n")
                                << "line 1: no assignment";
    QTest::newRow("every device") << QByteArray("TAG+=\"uaccess\"\n")
                                  << "line 1: no match: the rule would apply to every device";
    QTest::newRow("trailing comma") << QByteArray("SUBSYSTEM==\"usb\", TAG+=\"uaccess\",\n")
                                    << "line 1: trailing comma";
    QTest::newRow("continued line") << QByteArray("SUBSYSTEM==\"usb\", \\\n  MODE==\"0660\"\n")
                                    << "line 1: MODE cannot be matched";
}

void TestUdevRules::checkerRejectsBadLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QList<Rule> parsed;
    QCOMPARE(parseRules(text, parsed), error);
}

void TestUdevRules::accessForQuenvorNodesOnly_data()
{
    QTest::addColumn<QList<Node>>("chain");
    QTest::addColumn<bool>("access");

    const Node camera = usbDevice(QStringLiteral("2-1"), QStringLiteral("a0a0"), QStringLiteral("0294"));
    const Node wheel = usbDevice(QStringLiteral("1-1.3"), QStringLiteral("a0a0"), QStringLiteral("1f10"));
    const Node bootloader =
        usbDevice(QStringLiteral("1-1.3"), QStringLiteral("a0a0"), QStringLiteral("f000"));
    const Node mouse = usbDevice(QStringLiteral("1-2"), QStringLiteral("046d"), QStringLiteral("c52b"));

    QTest::newRow("camera") << QList<Node>{camera} << true;
    QTest::newRow("camera interface")
        << QList<Node>{usbInterface(QStringLiteral("2-1:1.0")), camera} << false;
    QTest::newRow("other usb device") << QList<Node>{mouse} << false;
    QTest::newRow("camera in its FX3 boot loader")
        << QList<Node>{usbDevice(QStringLiteral("1-4"), QStringLiteral("04b4"), QStringLiteral("00f3"))}
        << true;
    QTest::newRow("another device of the chip vendor")
        << QList<Node>{usbDevice(QStringLiteral("1-4"), QStringLiteral("04b4"), QStringLiteral("00f1"))}
        << false;
    QTest::newRow("wheel hidraw") << QList<Node>{hidraw(QStringLiteral("hidraw0")),
                                                 hid(QStringLiteral("0003:A0A0:1F10.0001")),
                                                 usbInterface(QStringLiteral("1-1.3:1.0")), wheel}
                                  << true;
    QTest::newRow("bootloader hidraw")
        << QList<Node>{hidraw(QStringLiteral("hidraw1")), hid(QStringLiteral("0003:A0A0:F000.0002")),
                       usbInterface(QStringLiteral("1-1.3:1.0")), bootloader}
        << true;
    QTest::newRow("wheel hidraw over bluetooth")
        << QList<Node>{hidraw(QStringLiteral("hidraw2")), hid(QStringLiteral("0005:A0A0:1F10.0003"))} << true;
    QTest::newRow("other hidraw") << QList<Node>{hidraw(QStringLiteral("hidraw3")),
                                                 hid(QStringLiteral("0003:046D:C52B.0004")),
                                                 usbInterface(QStringLiteral("1-2:1.0")), mouse}
                                  << false;
    QTest::newRow("other hidraw with A0A0 product")
        << QList<Node>{hidraw(QStringLiteral("hidraw4")), hid(QStringLiteral("0003:046D:A0A0.0005"))}
        << false;
    QTest::newRow("serial port of a camera")
        << QList<Node>{Node{QStringLiteral("tty"), QStringLiteral("ttyACM0"), {}, {}},
                       usbInterface(QStringLiteral("2-1:1.2")), camera}
        << false;
}

void TestUdevRules::accessForQuenvorNodesOnly()
{
    QFETCH(QList<Node>, chain);
    QFETCH(bool, access);
    QCOMPARE(tagsFor(rules, chain), access ? QStringList{QStringLiteral("uaccess")} : QStringList());
}

QTEST_GUILESS_MAIN(TestUdevRules)
#include "tst_udevrules.moc"
