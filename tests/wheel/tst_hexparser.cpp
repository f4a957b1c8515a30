#include "hexparser.h"
#include <QtTest>
class TestHexParser : public QObject
{
    Q_OBJECT
};
QTEST_GUILESS_MAIN(TestHexParser)
#include "tst_hexparser.moc"
