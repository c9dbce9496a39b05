// SPDX-License-Identifier: MIT
// The window's start-up against the service in each state: already running (its receivers are
// listed every time, whatever the timing), absent, or silent (it accepts and never answers).
// The window is built without waiting for the service, and what the service reports is applied
// when it arrives. A restarted service that logs elsewhere is followed to its new file.

#include "fakeanswerer.h"
#include "mainframe.h"
#include "qtestmain.h"
#include "receiverstoolbar.h"
#include "standin.h"
#include "testpeer.h"
#include "zelbinview.h"

#include <QListWidget>

class StartupTest : public QObject
{
    Q_OBJECT
private slots:
    // The list is sent once, right after registration: it must survive however early it comes.
    void ReceiversOfARunningServiceAreListedAtEveryStart()
    {
        CStandIn service({"--receiver", "7:Room1", "--receiver", "8:Lab"});
        for (int i = 0; i < 10; ++i)
        {
            CMainFrame frame;
            QVERIFY(frame.Create());
            QTRY_COMPARE(frame.GetReceiversToolbar()->GetListWidget()->count(), 2);
            QTRY_VERIFY(frame.GetLogMenu().bLogging); // the mask of the connection at start
            QVERIFY(frame.GetLogMenu().bConnected);
        }
    }

    // No service, or one that never answers: the frame is built and shown before any look-up or
    // request has ended, and says that it is looking.
    void TheWindowDoesNotWaitForTheService()
    {
        {
            CMainFrame frame; // nothing answers the look-up, which takes 2 s
            QVERIFY(frame.Create());
            frame.show();
            QVERIFY(frame.GetServiceClient()->IsStarting());
            QCOMPARE(frame.GetConnectionText(),
                     QStringLiteral("Looking for the receiver service\u2026"));
        }
        CTestPeer silent; // takes the handshake and the registration, answers nothing
        CLookupResponder answerer(silent.Port());
        CMainFrame frame;
        QVERIFY(frame.Create());
        frame.show();
        QTRY_VERIFY(frame.GetLogMenu().bConnected);
        // Connected; the mask request waits on its own thread meanwhile, the window does not.
        QTRY_COMPARE(silent.Connection(0)->FrameCount(), size_t{2}); // registration, mask
        QCoreApplication::processEvents();
        QCOMPARE(frame.GetLogMenu().iMask, 0u);
        QVERIFY(frame.IsLogPathPending());
        QVERIFY(frame.GetLogMenu().IsStartLoggingEnabled());
        silent.Shutdown(); // so that the goodbye does not wait out its 10 s
    }

    // Service -> Stop, then Start: the new service writes another file, and the view follows it.
    void ARestartedServicesNewLogFileIsFollowed()
    {
        CTempDir dir;
        auto service = std::make_unique<CStandIn>(std::vector<std::string>{}, dir / "first.log");
        CMainFrame frame;
        QVERIFY(frame.Create());
        frame.show();
        QTRY_VERIFY(!frame.IsLogPathPending());
        service->Control("say before the restart");
        QTRY_VERIFY(
            frame.GetActiveView()->toPlainText().contains(QStringLiteral("before the restart")));
        service.reset();
        QTRY_VERIFY(!frame.GetLogMenu().bConnected);
        service = std::make_unique<CStandIn>(std::vector<std::string>{}, dir / "second.log");
        QTRY_VERIFY_WITH_TIMEOUT(frame.GetLogMenu().bConnected, 10000);
        service->Control("say after the restart");
        QTRY_VERIFY(
            frame.GetActiveView()->toPlainText().contains(QStringLiteral("after the restart")));
    }
};

ZELBIN_QTEST_MAIN(StartupTest)
#include "startup_test.moc"
