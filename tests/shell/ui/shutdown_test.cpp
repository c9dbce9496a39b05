// SPDX-License-Identifier: MIT
// A shutdown request (a stop signal to the shutdown listener) ends the program cleanly from any
// state: with a dialog open, a payload test running or a print preview showing, the
// main loop returns 0, the frame is destroyed once, and its close handler never ran.

#include "mainframe.h"
#include "qtestmain.h"
#include "receiverstoolbar.h"
#include "standin.h"
#include "testresponsepayload.h"
#include "zelbinapp.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <csignal>

using namespace Qt::StringLiterals;

class ShutdownTest : public QObject
{
    Q_OBJECT
private slots:
    void EndsCleanlyFromAnyState_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("idle") << 0;
        QTest::newRow("Send Command") << 1;
        QTest::newRow("payload test running") << 2;
        QTest::newRow("print preview") << 3;
    }
    void EndsCleanlyFromAnyState()
    {
        QFETCH(int, state);
        CStandIn service({"--receiver", "7:Room1"});
        CZelbinApp app;
        QVERIFY(app.InitInstance());
        QPointer<CMainFrame> frame(app.GetMainFrame());
        QTRY_COMPARE(frame->GetReceiversToolbar()->GetListWidget()->count(), 1);
        frame->GetReceiversToolbar()->GetListWidget()->setCurrentRow(0);

        // Opens the state from inside the main loop, then asks for the shutdown once a modal
        // window (or the running test) is up.
        auto* pToolbar = frame->GetReceiversToolbar();
        const std::function<void()> open[] = {
            [] {},
            [&] { pToolbar->OnSendCommand(); },
            [&] { pToolbar->OnTestPayload(); },
            [&] { frame->Action(ID_FILE_PRINT_PREVIEW)->trigger(); },
        };
        QTimer::singleShot(0, frame, open[state]);
        bool bRequested = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout,
                [&]
                {
                    QWidget* pModal = QApplication::activeModalWidget();
                    if (state != 0 && !pModal)
                        return;
                    if (auto* pTest = qobject_cast<CTestResponsePayload*>(pModal))
                    {
                        if (!pTest->IsRunning())
                        {
                            pTest->GetLatencyEdit()->setText(u"100"_s);
                            pTest->OnStartTest();
                        }
                        if (pTest->GetSentCount() < 2)
                            return; // a pause or two into the run
                    }
                    if (!bRequested)
                        ::kill(::getpid(), SIGTERM);
                    bRequested = true;
                });
        poll.start(10);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(bRequested);
        QVERIFY(!frame.isNull()); // left for the application, after every loop has returned
        QVERIFY(frame->IsShuttingDown());
        app.ExitInstance();
        QVERIFY(frame.isNull());
        QVERIFY(app.GetMainFrame() == nullptr);
        QVERIFY(service.LogContains("Client 1 is closing")); // the goodbye went out
    }
};

ZELBIN_QTEST_MAIN(ShutdownTest)
#include "shutdown_test.moc"
