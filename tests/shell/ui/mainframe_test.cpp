// SPDX-License-Identifier: MIT
// The window as a technician meets it, against the real stand-in service process: the Log menu's
// rules and what they send, receivers coming and going, closing, the shutdown request, the
// Service menu's programs, and the log view on a real file.

#include "mainframe.h"
#include "qtestmain.h"
#include "receiverstoolbar.h"
#include "sendcommanddlg.h"
#include "servicecontrol.h"
#include "shutdowner.h"
#include "standin.h"
#include "testresponsepayload.h"
#include "zelbinapp.h"
#include "zelbinview.h"

#include <QAction>
#include <QListWidget>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <csignal>

namespace
{
// Counts the close handler's runs, so a test can tell a close from a shutdown.
class CTestFrame : public CMainFrame
{
public:
    static inline int s_iCloses = 0;

protected:
    void closeEvent(QCloseEvent* pEvent) override
    {
        ++s_iCloses;
        CMainFrame::closeEvent(pEvent);
    }
};

QString ServiceMask()
{
    std::string out;
    RunProgram({ProgramPath("zelbinctl"), "mask"}, &out);
    return QString::fromStdString(out.substr(0, 4));
}

QStringList ListTexts(CMainFrame& frame)
{
    QStringList texts;
    QListWidget* pList = frame.GetReceiversToolbar()->GetListWidget();
    for (int i = 0; i < pList->count(); ++i)
        texts << pList->item(i)->text();
    return texts;
}
} // namespace

class MainFrameTest : public QObject
{
    Q_OBJECT
private slots:
    void LogItemsFollowTheConnection()
    {
        CMainFrame frame; // the service is not there yet
        QVERIFY(frame.Create());
        QCOMPARE(frame.GetConnectionText(),
                 QStringLiteral("Looking for the receiver service\u2026"));
        QTRY_VERIFY_WITH_TIMEOUT(!frame.GetServiceClient()->IsStarting(), 5000); // not found
        const int categories[] = {ID_LOG_SHOW_DEBUG, ID_LOG_SHOW_VERBOSE, ID_LOG_SHOW_PROCESSED,
                                  ID_LOG_SHOW_RAW};
        for (int id : categories)
            QVERIFY(!frame.Action(id)->isEnabled());
        QVERIFY(!frame.Action(ID_LOG_START_LOGGING)->isEnabled());
        QVERIFY(!frame.Action(ID_LOG_STOP_LOGGING)->isEnabled());
        for (int id : {int(ID_LOG_CLEAR), int(ID_SERVICE_STOP), int(ID_EXTRAS_SAMPLE_QUIZ)})
            QVERIFY(frame.Action(id)->isEnabled());
        frame.OnClearLog(); // accepted while disconnected: nothing happens, nothing breaks

        CStandIn service;
        QTRY_VERIFY_WITH_TIMEOUT(frame.Action(ID_LOG_SHOW_DEBUG)->isChecked(), 5000);
        QCOMPARE(frame.GetConnectionText(), QStringLiteral("Connected to the receiver service"));
        for (int id : categories)
            QVERIFY(frame.Action(id)->isEnabled() &&
                    frame.Action(id)->isChecked()); // mask 0x1E read anew
        // Logging stays as it was at start (off), so Start Logging is the one enabled.
        QVERIFY(frame.Action(ID_LOG_START_LOGGING)->isEnabled());
        QVERIFY(!frame.Action(ID_LOG_STOP_LOGGING)->isEnabled());
    }

    void StopLoggingThenShowDebugSendsTheFullMask()
    {
        CStandIn service;
        CMainFrame frame;
        QVERIFY(frame.Create());
        QTRY_VERIFY(frame.GetLogMenu().bLogging); // the first mask, of the connection at start
        frame.Action(ID_LOG_STOP_LOGGING)->trigger();
        QTRY_COMPARE(ServiceMask(), QStringLiteral("0x00"));
        QVERIFY(frame.Action(ID_LOG_START_LOGGING)->isEnabled());
        frame.Action(ID_LOG_SHOW_DEBUG)->trigger();
        QTRY_COMPARE(ServiceMask(), QStringLiteral("0x0e"));
        QVERIFY(!frame.Action(ID_LOG_SHOW_DEBUG)->isChecked());
        QVERIFY(frame.Action(ID_LOG_START_LOGGING)->isEnabled());
        QVERIFY(!frame.Action(ID_LOG_STOP_LOGGING)->isEnabled());
        frame.Action(ID_LOG_START_LOGGING)->trigger();
        QTRY_COMPARE(ServiceMask(), QStringLiteral("0x0e"));
    }

    void ReceiversComeGoAndAreEmptiedOnDisconnection()
    {
        auto service =
            std::make_unique<CStandIn>(std::vector<std::string>{"--receiver", "7:Room1"});
        CMainFrame frame;
        QVERIFY(frame.Create());
        QTRY_COMPARE(ListTexts(frame), QStringList{QStringLiteral("Room1")});
        QVERIFY(frame.GetReceiversToolbar()->GetSendCommandButton()->isEnabled());
        service->Control("appear 8 Lab");
        QTRY_COMPARE(ListTexts(frame),
                     (QStringList{QStringLiteral("Room1"), QStringLiteral("Lab")}));
        service->Control("rename 7 Renamed");
        service->Control("go 8");
        QTRY_COMPARE(ListTexts(frame),
                     QStringList{QStringLiteral("Room1")}); // a new name shows at a rebuild only
        service->Control("appear 8 Lab again");
        QTRY_COMPARE(ListTexts(frame),
                     (QStringList{QStringLiteral("Room1"), QStringLiteral("Lab again")}));
        service.reset();
        QTRY_VERIFY(ListTexts(frame).isEmpty());
        QVERIFY(!frame.GetReceiversToolbar()->GetSendCommandButton()->isEnabled());
        QVERIFY(!frame.GetReceiversToolbar()->GetTestPayloadButton()->isEnabled());
        QVERIFY(!frame.Action(ID_LOG_SHOW_RAW)->isEnabled());
    }

    void TheLogViewShowsTheServicesLog()
    {
        CStandIn service;
        CMainFrame frame;
        QVERIFY(frame.Create());
        frame.GetActiveView()->OnInitialUpdate();
        frame.show();
        QTRY_VERIFY(!frame.IsLogPathPending());
        service.Control("say gr\xC3\xBC\xC3\x9F dich, " + std::string(280, 'x'));
        QTRY_VERIFY(frame.GetActiveView()->toPlainText().contains(
            QStringLiteral("DEBUG gr\u00fc\u00df dich, ") + QString(280, QLatin1Char('x')) +
            QLatin1Char('\n')));
        frame.Action(ID_LOG_CLEAR)->trigger();
        QTRY_VERIFY(service.Log().find("dich") ==
                    std::string::npos); // cleared before the next line
        service.Control("say after the clear");
        QTRY_VERIFY(
            frame.GetActiveView()->toPlainText().contains(QStringLiteral("after the clear")));
        QVERIFY(!frame.GetActiveView()->toPlainText().contains(QStringLiteral("dich")));
    }

    void ClosingAfterLogTextAsksNothing()
    {
        CStandIn service;
        auto* pFrame = new CTestFrame;
        QPointer<CMainFrame> frame(pFrame);
        QVERIFY(pFrame->Create());
        pFrame->show();
        pFrame->GetActiveView()->insertPlainText(QStringLiteral("typed by the technician"));
        QVERIFY(pFrame->GetDocument()->IsModified());
        const int closes = CTestFrame::s_iCloses;
        QVERIFY(pFrame->close());
        QCOMPARE(CTestFrame::s_iCloses, closes + 1);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QTRY_VERIFY(frame.isNull());
    }

    void AShutdownListenerThatCannotStartEndsTheProgram()
    {
        Quenby::Shutdowner other; // holds the stop signals: the frame's listener cannot start
        QVERIFY(other.Start());
        CZelbinApp app;
        QVERIFY(!app.InitInstance());
        QVERIFY(app.GetMainFrame() == nullptr);
    }

    void ServiceCommandsRunBothProgramsQuotedInOrder()
    {
        CTempDir dir;
        const std::string programs = dir / "with blanks/";
        std::filesystem::create_directories(programs);
        const std::string record = dir / "commands.txt";
        for (const char* name : {HARDWARE_SERVICE_PROGRAM, SOFTWARE_SERVICE_PROGRAM})
        {
            const std::string path = programs + name;
            std::ofstream(path) << "#!/bin/sh\necho \"$0 $*\" >> '" << record << "'\n";
            std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        }
        CMainFrame frame;
        QVERIFY(frame.Create());
        frame.SetServiceDirectory(programs);
        frame.Action(ID_SERVICE_STOP)->trigger();
        // Both run, each with its quoted path and the switch; they run side by side, so the
        // record's order is theirs (that the hardware program goes first shows below).
        auto lines = [&]
        {
            QStringList l = QString::fromStdString(ReadFile(record))
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            l.sort();
            return l;
        };
        const QStringList both = {
            QString::fromStdString(programs + HARDWARE_SERVICE_PROGRAM + " -stop"),
            QString::fromStdString(programs + SOFTWARE_SERVICE_PROGRAM + " -stop")};
        QTRY_COMPARE(lines(), both);
        QCOMPARE(QString::fromStdString(ServiceCommandLine("/a b/x.exe", "-i")),
                 QStringLiteral("\"/a b/x.exe\" -i"));

        // Without the hardware program, the software one is not run either: only the marker
        // that runs afterwards reaches the record.
        std::filesystem::remove(programs + HARDWARE_SERVICE_PROGRAM);
        frame.Action(ID_SERVICE_START)->trigger();
        QVERIFY(!RunServiceCommand(programs + HARDWARE_SERVICE_PROGRAM, "-start"));
        QVERIFY(RunServiceCommand(programs + SOFTWARE_SERVICE_PROGRAM, "-marker"));
        QTRY_VERIFY(QString::fromStdString(ReadFile(record)).endsWith(QStringLiteral("-marker\n")));
        QStringList withMarker = both;
        withMarker << QString::fromStdString(programs + SOFTWARE_SERVICE_PROGRAM + " -marker");
        withMarker.sort();
        QCOMPARE(lines(), withMarker);
    }

    void ToolbarButtonsOpenTheDialogsForTheSelectedReceiver()
    {
        CStandIn service({"--receiver", "7:Room1", "--receiver", "8:Lab"});
        CMainFrame frame;
        QVERIFY(frame.Create());
        QTRY_COMPARE(ListTexts(frame).size(), qsizetype(2));
        CReceiversToolbar* pToolbar = frame.GetReceiversToolbar();
        QStringList opened;
        pToolbar->SetDialogRunner(
            [&](QDialog& dialog)
            {
                if (auto* pSend = qobject_cast<CSendCommandDlg*>(&dialog))
                    opened << QStringLiteral("send %1").arg(pSend->GetReceiverID());
                if (auto* pTest = qobject_cast<CTestResponsePayload*>(&dialog))
                    opened << QStringLiteral("test %1").arg(pTest->GetReceiverID());
            });
        pToolbar->GetListWidget()->setCurrentRow(1);
        QTest::mouseClick(pToolbar->GetSendCommandButton(), Qt::LeftButton);
        QTest::mouseClick(pToolbar->GetTestPayloadButton(), Qt::LeftButton);
        // The identifier, never the position.
        QCOMPARE(opened, (QStringList{QStringLiteral("send 8"), QStringLiteral("test 8")}));
    }

    void SavePrintAndOpenTheLogText()
    {
        CTempDir dir;
        CZelbinView view;
        CZelbinDoc doc(&view);
        view.setPlainText(QStringLiteral("line one \u00e9\nline two"));
        view.MoveCaretToEnd();
        view.insertPlainText(QStringLiteral(" edited")); // an edit of the user's is saved too
        QVERIFY(doc.IsModified());
        const QString saved = QString::fromStdString(dir / "saved.log");
        QVERIFY(doc.Save(saved));
        QVERIFY(!doc.IsModified());
        QCOMPARE(QString::fromStdString(ReadFile(saved.toStdString())),
                 QString::fromUtf8("line one \xC3\xA9\r\nline two edited"));

        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(dir / "log.pdf"));
        view.print(&printer);
        QVERIFY(ReadFile(dir / "log.pdf").rfind("%PDF", 0) == 0);

        doc.New();
        QVERIFY(view.toPlainText().isEmpty());
        QVERIFY(doc.Load(saved));
        QCOMPARE(view.toPlainText(), QStringLiteral("line one \u00e9\nline two edited"));
    }

    void TheViewsTextLimitKeepsTheNewestText()
    {
        CTempDir dir;
        const std::string path = dir / "limit.log";
        std::ofstream(path, std::ios::binary) << "0123456789\r\n";
        CZelbinView view;
        view.SetTextLimit(20);
        view.SetLogFile(std::u16string(path.begin(), path.end()));
        QCOMPARE(view.toPlainText(), QStringLiteral("0123456789\n"));
        std::ofstream(path, std::ios::binary | std::ios::app) << "abcdefghijklm\r\n";
        view.ReadNewLogData();
        QCOMPARE(view.toPlainText(), QStringLiteral("abcdefghijklm\n"));
        CZelbinView raised;
        raised.OnInitialUpdate();
        QCOMPARE(raised.GetTextLimit(), size_t{0x4FFFFF});
    }
};

ZELBIN_QTEST_MAIN(MainFrameTest)
#include "mainframe_test.moc"
