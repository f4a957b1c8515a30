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
    // Arrival and removal carry a pointer to a DEV_BROADCAST_HDR, so the system sends them and a
    // post is refused; node changes carry none and may also arrive posted.
    void messageRunsBothScans_data()
    {
        QTest::addColumn<uint>("message");
        QTest::addColumn<qulonglong>("wParam");
        QTest::addColumn<bool>("alsoPosted");
        QTest::addColumn<int>("scans");
        QTest::newRow("device node changes") << uint(WM_DEVICECHANGE) << qulonglong(0x0007) << true << 2;
        QTest::newRow("device arrival") << uint(WM_DEVICECHANGE) << qulonglong(0x8000) << false << 1;
        QTest::newRow("device removal") << uint(WM_DEVICECHANGE) << qulonglong(0x8004) << false << 1;
        QTest::newRow("another message") << uint(WM_NULL) << qulonglong(0) << true << 0;
        QTest::newRow("a user message") << uint(WM_USER + 7) << qulonglong(0x0007) << true << 0;
    }
    void messageRunsBothScans()
    {
        QFETCH(uint, message);
        QFETCH(qulonglong, wParam);
        QFETCH(bool, alsoPosted);
        QFETCH(int, scans);
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* log = child<QTextEdit>(w, "textEditLog");
        log->clear();
        const HWND window = reinterpret_cast<HWND>(w.winId());
        struct
        {
            DWORD size;
            DWORD deviceType;
            DWORD reserved;
        } header = {sizeof header, 5 /* device interface */, 0};
        const LPARAM lParam = (wParam & 0x8000) ? reinterpret_cast<LPARAM>(&header) : 0;
        SendMessageW(window, message, WPARAM(wParam), lParam);
        if (alsoPosted)
            QVERIFY(PostMessageW(window, message, WPARAM(wParam), 0));
        QTest::qWait(300);
        const QStringList lines = logLines(w);
        QCOMPARE(lines.count(QStringLiteral("Get Connnected Camera...")), scans);
        QCOMPARE(lines.count(QStringLiteral("Get Connnected Wheel...")), scans);
        if (scans)
            QVERIFY2(lines.contains(QStringLiteral("Detect 0 Camera(s)...")), qPrintable(lines.join('\n')));
    }
};

QTEST_MAIN(TestDeviceChange)
#include "tst_devicechange.moc"
