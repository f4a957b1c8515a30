// Device changes on Windows: messages sent to the main window's native window reach nativeEvent,
// and only WM_DEVICECHANGE runs the camera and wheel scans.
#include "mainwindowtestaccess.h"

#include <QtTest>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

class TestDeviceChange : public QObject
{
    Q_OBJECT

    TestSettings settings;

private slots:
    void messageRunsBothScans_data()
    {
        QTest::addColumn<uint>("message");
        QTest::addColumn<qulonglong>("wParam");
        QTest::addColumn<int>("scans");
        QTest::newRow("device node changes") << uint(WM_DEVICECHANGE) << qulonglong(0x0007) << 1;
        QTest::newRow("device arrival") << uint(WM_DEVICECHANGE) << qulonglong(0x8000) << 1;
        QTest::newRow("device removal") << uint(WM_DEVICECHANGE) << qulonglong(0x8004) << 1;
        QTest::newRow("another message") << uint(WM_NULL) << qulonglong(0) << 0;
        QTest::newRow("a user message") << uint(WM_USER + 7) << qulonglong(0x0007) << 0;
    }
    void messageRunsBothScans()
    {
        QFETCH(uint, message);
        QFETCH(qulonglong, wParam);
        QFETCH(int, scans);
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* log = child<QTextEdit>(w, "textEditLog");
        log->clear();
        const HWND window = reinterpret_cast<HWND>(w.winId());
        SendMessageW(window, message, WPARAM(wParam), 0);
        // A posted message goes through the event loop, as the system's broadcasts do.
        PostMessageW(window, message, WPARAM(wParam), 0);
        QTest::qWait(300);
        const QStringList lines = logLines(w);
        QCOMPARE(lines.count(QStringLiteral("Get Connnected Camera...")), 2 * scans);
        QCOMPARE(lines.count(QStringLiteral("Get Connnected Wheel...")), 2 * scans);
        if (scans)
            QVERIFY2(lines.contains(QStringLiteral("Detect 0 Wheel(s)...")), qPrintable(lines.join('\n')));
    }
};

QTEST_MAIN(TestDeviceChange)
#include "tst_devicechange.moc"
