// The wait and abort sequence of an endpoint-0 request, with scripted event waits.
#include "transferwait.h"

#include <QtTest>

class TestTransferWait : public QObject
{
    Q_OBJECT

private slots:
    void sequence_data();
    void sequence();
};

void TestTransferWait::sequence_data()
{
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<QString>("outcomes"); // one letter per wait: S signalled, T timed out, F failed
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("completes in time") << 500u << "S" << true << QStringList{"wait 500"};
    QTest::newRow("wait fails") << 500u << "F" << false << QStringList{"wait 500"};
    QTest::newRow("back within 50 ms of the abort")
        << 500u << "TS" << true << QStringList{"wait 500", "abort", "wait 50"};
    QTest::newRow("back after the second abort")
        << 500u << "TTS" << true << QStringList{"wait 500", "abort", "wait 50", "abort", "wait 5000"};
    QTest::newRow("grace wait fails: second abort")
        << 500u << "TFS" << true << QStringList{"wait 500", "abort", "wait 50", "abort", "wait 5000"};
    QTest::newRow("never back: bounded")
        << 500u << "TTT" << false << QStringList{"wait 500", "abort", "wait 50", "abort", "wait 5000"};
    QTest::newRow("time-out 0 waits the default") << 0u << "S" << true << QStringList{"wait 10000"};
    QTest::newRow("infinite time-out waits the default")
        << 0xFFFFFFFFu << "S" << true << QStringList{"wait 10000"};
}

void TestTransferWait::sequence()
{
    QFETCH(uint, timeoutMs);
    QFETCH(QString, outcomes);
    QFETCH(bool, ok);
    QFETCH(QStringList, calls);

    QStringList log;
    int next = 0;
    auto wait = [&](uint32_t ms) {
        log << QString("wait %1").arg(ms);
        if (next >= outcomes.size()) {
            // More waits than scripted: the sequence did not stop where it should.
            return WaitOutcome::TimedOut;
        }
        const QChar c = outcomes.at(next++);
        return c == 'S' ? WaitOutcome::Signalled : c == 'T' ? WaitOutcome::TimedOut : WaitOutcome::Failed;
    };
    auto abortPipe = [&] { log << "abort"; };
    QCOMPARE(waitWithAbort(wait, abortPipe, timeoutMs), ok);
    QCOMPARE(log, calls);
}

QTEST_APPLESS_MAIN(TestTransferWait)
#include "tst_transferwait.moc"
