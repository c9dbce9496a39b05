// SPDX-License-Identifier: MIT
// The window against the real stand-in service: start-up with the service running (its receivers
// always listed, whatever the timing), absent or silent (the window never waits for it), the Log
// menu's rules and what they send, receivers coming and going, closing, the shutdown request, the
// Service menu's programs, a restarted service logging elsewhere, and the log view on a real file.

#include "fakeanswerer.h"
#include "filterpane.h"
#include "findbar.h"
#include "highlighting.h"
#include "logfileview.h"
#include "mainframe.h"
#include "qtestmain.h"
#include "receiverstoolbar.h"
#include "screenfit.h"
#include "sendcommanddlg.h"
#include "servicecontrol.h"
#include "shutdowner.h"
#include "standin.h"
#include "testpeer.h"
#include "testresponsepayload.h"
#include "theme.h"
#include "zelbinapp.h"
#include "zelbinview.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <csignal>

using namespace Qt::StringLiterals;

namespace
{
QString ServiceMask()
{
    std::string out;
    RunProgram({ProgramPath("zelbinctl"), "mask"}, &out);
    return QString::fromStdString(out.substr(0, 4));
}

// The Log menu's Start, Stop and four categories: "-" greyed, "x" checked, "o" neither.
QString LogMenu(CMainFrame& frame)
{
    QString marks;
    for (int id : {ID_LOG_START_LOGGING, ID_LOG_STOP_LOGGING, ID_LOG_SHOW_DEBUG,
                   ID_LOG_SHOW_VERBOSE, ID_LOG_SHOW_PROCESSED, ID_LOG_SHOW_RAW})
        marks += !frame.Action(id)->isEnabled()  ? u'-'
                 : frame.Action(id)->isChecked() ? u'x'
                                                 : u'o';
    return marks;
}

// Appends to a followed log and has the view read it, as the service's next write does.
void Append(CZelbinView& view, const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
    view.ReadNewLogData();
}

QStringList Rows(const QAbstractItemView* pList)
{
    QStringList texts;
    for (int i = 0; i < pList->model()->rowCount(); ++i)
        texts << pList->model()->index(i, 0).data().toString();
    return texts;
}
} // namespace

class MainFrameTest : public QObject
{
    Q_OBJECT
private slots:
    // A service that takes the connection and never answers: the window is built and shown at
    // once, and every menu and dialog action returns to the event loop at once while a
    // request waits (the longest gap of a 1 ms timer, as the bench measures it); the Log menu
    // shows nothing it has not heard; a shutdown request then ends the program within 1 s.
    void NothingTheWindowAsksHoldsItUp()
    {
        CTestPeer silent; // takes the handshake and the registration, answers nothing
        CLookupResponder answerer(silent.Port());
        CZelbinApp app;
        QVERIFY(app.InitInstance());
        const std::unique_ptr<CZelbinApp, void (*)(CZelbinApp*)> ends(
            &app, [](CZelbinApp* p) { p->ExitInstance(); }); // on failure too
        CMainFrame& frame = *app.GetMainFrame();
        QTRY_VERIFY(frame.GetLogMenu().bConnected);
        QTRY_VERIFY(silent.Connection(0)->FrameCount() >= 3); // registration, mask, path
        QCOMPARE(LogMenu(frame), u"------"_s);
        frame.SetNetworkNameDialogRunner([](QWidget*, char16_t* pszName, int)
                                         { return (pszName[0] = u'A'), true; });
        frame.SetServiceDirectory("/nonexistent/");
        frame.SetErrorReporter([](const QString&) {});
        CReceiversToolbar* pToolbar = frame.GetReceiversToolbar();
        pToolbar->SetReceiverEntry(7, 1, u"Room 7");
        pToolbar->SetDialogRunner(
            [](QDialog& dialog)
            {
                if (auto* pSend = qobject_cast<CSendCommandDlg*>(&dialog))
                    pSend->OnSend();
                if (auto* pTest = qobject_cast<CTestResponsePayload*>(&dialog))
                {
                    pTest->GetTotalEdit()->setText(u"2"_s);
                    pTest->GetLatencyEdit()->setText(u"0"_s);
                    pTest->OnStartTest();
                }
            });
        const std::pair<const char*, std::function<void()>> actions[] = {
            {"Require Login", [&] { frame.Action(ID_EXTRAS_REQUIRE_LOGIN)->trigger(); }},
            {"Network Name", [&] { frame.Action(ID_EXTRAS_NETWORK_NAME)->trigger(); }},
            {"Send Command", [&] { pToolbar->OnSendCommand(); }},
            {"Payload Test", [&] { pToolbar->OnTestPayload(); }},
            {"Service Start", [&] { frame.Action(ID_SERVICE_START)->trigger(); }},
        };
        for (const auto& [name, action] : actions)
        {
            double longest = 0;
            auto last = std::chrono::steady_clock::now();
            QTimer tick;
            connect(&tick, &QTimer::timeout,
                    [&]
                    {
                        const auto now = std::chrono::steady_clock::now();
                        longest = std::max(
                            longest, std::chrono::duration<double, std::milli>(now - last).count());
                        last = now;
                    });
            tick.start(1);
            QTimer::singleShot(0, &frame, action);
            QTest::qWait(150);
            // 50 ms is the target (the bench measures it); under a loaded machine the test
            // only asks that nothing waited for the service, which held it 10 s before.
            QVERIFY2(longest < 500,
                     qPrintable(u"%1 held the window %2 ms"_s.arg(name).arg(longest)));
        }
        // Everything went out although the mask request still waits: the texts in order.
        QTRY_VERIFY(silent.Connection(0)->FrameCount() >= 3 + 4);

        const auto start = std::chrono::steady_clock::now();
        QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
        QCOMPARE(QApplication::exec(), 0);
        app.ExitInstance();
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1000));
        silent.Shutdown();
    }

    // The list is sent once, right after registration: it must survive however early it comes.
    // The toolbar's buttons open their dialogs for the selected receiver's identifier.
    void ReceiversOfARunningServiceAreListedAtEveryStart()
    {
        CStandIn service({"--receiver", "7:Room1", "--receiver", "8:Lab"});
        for (int i = 0; i < 10; ++i)
        {
            CMainFrame frame;
            QVERIFY(frame.Create());
            QTRY_COMPARE(Rows(frame.GetReceiversToolbar()->GetListWidget()),
                         (QStringList{u"7 \u00b7 Room1"_s, u"8 \u00b7 Lab"_s}));
            QTRY_VERIFY(frame.GetLogMenu().IsLogging()); // the service's mask
            if (i < 9)
                continue;
            CReceiversToolbar* pToolbar = frame.GetReceiversToolbar();
            QStringList opened;
            pToolbar->SetDialogRunner(
                [&](QDialog& dialog)
                {
                    if (auto* pSend = qobject_cast<CSendCommandDlg*>(&dialog))
                        opened << u"send %1"_s.arg(pSend->GetReceiverID());
                    if (auto* pTest = qobject_cast<CTestResponsePayload*>(&dialog))
                        opened << u"test %1"_s.arg(pTest->GetReceiverID());
                });
            pToolbar->GetListWidget()->setCurrentRow(1);
            QTest::mouseClick(pToolbar->GetSendCommandButton(), Qt::LeftButton);
            QTest::mouseClick(pToolbar->GetTestPayloadButton(), Qt::LeftButton);
            QCOMPARE(opened, (QStringList{u"send 8"_s, u"test 8"_s}));
        }
    }

    // The log shows as it grows (non-ASCII, long lines whole); Clear empties it before the next
    // line; a restarted service logging elsewhere is followed; typed text asks nothing at closing.
    void TheLogViewFollowsTheServicesLogAndClosesWithoutAsking()
    {
        CTempDir dir;
        auto service = std::make_unique<CStandIn>(std::vector<std::string>{}, dir / "first.log");
        auto* pFrame = new CMainFrame; // deleted as it closes
        QPointer<CMainFrame> closed(pFrame);
        CMainFrame& frame = *pFrame;
        QVERIFY(frame.Create());
        frame.GetActiveView()->OnInitialUpdate();
        frame.show();
        const auto shown = [&](const QString& text)
        { return frame.GetActiveView()->toPlainText().contains(text); };
        QTRY_VERIFY(!frame.IsLogPathPending());
        service->Control("say gr\xC3\xBC\xC3\x9F dich, " + std::string(280, 'x'));
        QTRY_VERIFY(shown(u"DEBUG gr\u00fc\u00df dich, "_s + QString(280, QLatin1Char('x')) +
                          QLatin1Char('\n')));
        frame.Action(ID_LOG_CLEAR)->trigger();
        QTRY_VERIFY(service->Log().find("dich") == std::string::npos);
        service->Control("say after the clear");
        QTRY_VERIFY(shown(u"after the clear"_s));
        QVERIFY(!shown(u"dich"_s));

        service.reset();
        QTRY_VERIFY(!frame.GetLogMenu().bConnected);
        service = std::make_unique<CStandIn>(std::vector<std::string>{}, dir / "second.log");
        QTRY_VERIFY_WITH_TIMEOUT(frame.GetLogMenu().bConnected, 10000);
        service->Control("say after the restart");
        QTRY_VERIFY(shown(u"after the restart"_s));

        // Closing after text was typed into the log asks nothing.
        frame.GetActiveView()->insertPlainText(u"typed by the technician"_s);
        QVERIFY(frame.GetDocument()->IsModified());
        QVERIFY(frame.close());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QTRY_VERIFY(closed.isNull());
    }

    // No service yet: the frame is shown at once and says that it is looking. The Log menu and
    // the receivers' list follow the connection as it comes and goes.
    void MenusAndReceiversFollowTheConnection()
    {
        CMainFrame frame; // the service is not there yet
        QVERIFY(frame.Create());
        QVERIFY(frame.GetServiceClient()->IsStarting());
        QCOMPARE(frame.GetConnectionText(), u"Looking for the receiver service\u2026"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!frame.GetServiceClient()->IsStarting(), 5000); // not found
        QCOMPARE(LogMenu(frame), u"------"_s);
        for (int id : {int(ID_LOG_CLEAR), int(ID_SERVICE_STOP), int(ID_EXTRAS_SAMPLE_QUIZ)})
            QVERIFY(frame.Action(id)->isEnabled());
        frame.OnClearLog(); // accepted while disconnected: nothing happens, nothing breaks
        // The idle prompt; a command that cannot go out says so.
        QCOMPARE(frame.statusBar()->currentMessage(), u"Ready"_s);
        frame.Action(ID_EXTRAS_SAMPLE_QUIZ)->trigger();
        QCOMPARE(frame.statusBar()->currentMessage(),
                 u"Not sent: the receiver service is not connected"_s);

        auto service =
            std::make_unique<CStandIn>(std::vector<std::string>{"--receiver", "7:Room1"});
        QTRY_VERIFY_WITH_TIMEOUT(frame.Action(ID_LOG_SHOW_DEBUG)->isChecked(), 5000);
        QCOMPARE(frame.GetConnectionText(), u"Connected to the receiver service"_s);
        // Mask 0x1E read anew; window first, then a logging service: only Stop Logging is enabled.
        QCOMPARE(LogMenu(frame), u"-oxxxx"_s);

        const auto* pBar = frame.GetReceiversToolbar();
        QTRY_COMPARE(Rows(pBar->GetListWidget()), QStringList{u"7 \u00b7 Room1"_s});
        QVERIFY(pBar->GetSendCommandButton()->isEnabled());

        // A loss is told from never having had the service, so is its return; the list empties.
        service.reset();
        QTRY_COMPARE(frame.GetConnectionText(), u"Connection lost \u2014 looking again\u2026"_s);
        QCOMPARE(LogMenu(frame), u"------"_s);
        QTRY_VERIFY(Rows(pBar->GetListWidget()).isEmpty());
        // Off, and found by their ids as a script finds them.
        QCOMPARE(frame.findChild<QPushButton*>(u"1001"_s), pBar->GetSendCommandButton());
        QCOMPARE(frame.findChild<QPushButton*>(u"1007"_s), pBar->GetTestPayloadButton());
        QVERIFY(!pBar->GetSendCommandButton()->isEnabled());
        QVERIFY(!pBar->GetTestPayloadButton()->isEnabled());
        service = std::make_unique<CStandIn>();
        QTRY_VERIFY_WITH_TIMEOUT(frame.GetConnectionText().startsWith(u"Connected again at "_s),
                                 10000);
        QCOMPARE(frame.GetConnectionText().size(), u"Connected again at 12:00:00"_s.size());
    }

    // The Log menu's marks and Start/Stop follow what the service answers after each command:
    // a sequence of commands, the mask the service then has, and the menu.
    void LogCommandsShowWhatTheServiceTook_data()
    {
        QTest::addColumn<QList<int>>("commands");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("menu");
        QTest::newRow("stop") << QList<int>{ID_LOG_STOP_LOGGING} << u"0x00"_s << u"o-oooo"_s;
        QTest::newRow("stop, debug")
            << QList<int>{ID_LOG_STOP_LOGGING, ID_LOG_SHOW_DEBUG} << u"0x10"_s << u"-oxooo"_s;
        QTest::newRow("debug off, stop, start")
            << QList<int>{ID_LOG_SHOW_DEBUG, ID_LOG_STOP_LOGGING, ID_LOG_START_LOGGING} << u"0x0e"_s
            << u"-ooxxx"_s;
    }
    void LogCommandsShowWhatTheServiceTook()
    {
        QFETCH(QList<int>, commands);
        QFETCH(QString, mask);
        QFETCH(QString, menu);
        CStandIn service;
        CMainFrame frame;
        QVERIFY(frame.Create());
        QTRY_VERIFY(frame.GetLogMenu().IsLogging());
        for (int id : commands)
        {
            QTRY_VERIFY(frame.Action(id)->isEnabled()); // once the last command was answered
            frame.Action(id)->trigger();
            QTRY_VERIFY(!frame.GetLogMenu().pendingMask);
        }
        QTRY_COMPARE(ServiceMask(), mask);
        QCOMPARE(LogMenu(frame), menu);
    }

    // A shutdown request (a stop signal to the shutdown listener) ends the program cleanly with a
    // dialog open, a payload test running or a print preview showing (idle: window_screenshot): the
    // main loop returns 0, the frame is destroyed once let go, and the goodbye went out.
    void AShutdownEndsCleanlyFromAnyState_data()
    {
        QTest::addColumn<int>("state");
        QTest::newRow("Send Command") << 0;
        QTest::newRow("payload test running") << 1;
        QTest::newRow("print preview") << 2;
    }
    void AShutdownEndsCleanlyFromAnyState()
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
                    if (!pModal)
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
                    if (!std::exchange(bRequested, true))
                        ::kill(::getpid(), SIGTERM);
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

    void AShutdownListenerThatCannotStartEndsTheProgram()
    {
        Quenby::Shutdowner other; // holds the stop signals: the frame's listener cannot start
        QVERIFY(other.Start());
        CZelbinApp app;
        QVERIFY(!app.InitInstance());
        QVERIFY(app.GetMainFrame() == nullptr);
    }

    // Both programs run, each with its quoted path and switch; success shows in the status bar, a
    // failure in the programs' own words in a message box. No hardware program: no software one.
    void ServiceCommandsShowTheirOutcome()
    {
        CTempDir dir;
        const std::string programs = dir / "with blanks/";
        std::filesystem::create_directories(programs);
        const std::string record = dir / "commands.txt";
        for (const char* name : {HARDWARE_SERVICE_PROGRAM, SOFTWARE_SERVICE_PROGRAM})
        {
            std::ofstream(programs + name)
                << "#!/bin/sh\necho \"$0 $*\" >> '" << record << "'\nn=$(basename \"$0\")\n"
                << "case \"$*\" in -stop) echo \"$n stopped\";;\n"
                << "-start) [ $n = VostraSoftwareService.exe ] &&\n"
                << "echo \"$n was not installed\" || echo \"$n is already running (pid 12)\";;\n"
                << "-i) echo \"cannot write /etc/x\" >&2; exit 1;; esac\n";
            std::filesystem::permissions(programs + name, std::filesystem::perms::owner_all);
        }
        CMainFrame frame;
        QVERIFY(frame.Create());
        QStringList errors;
        frame.SetErrorReporter([&](const QString& text) { errors << text; });
        frame.SetServiceDirectory(programs);
        const auto run = [&](int id)
        {
            errors.clear();
            frame.Action(id)->trigger();
            QTRY_VERIFY(!frame.IsServiceCommandRunning());
        };
        run(ID_SERVICE_STOP);
        QVERIFY(errors.isEmpty());
        QCOMPARE(frame.statusBar()->currentMessage(),
                 u"VostraHardwareService.exe stopped; VostraSoftwareService.exe stopped"_s);
        run(ID_SERVICE_START);
        QCOMPARE(errors, QStringList{u"Service -start:\n\nVostraHardwareService.exe is already "
                                     "running (pid 12)\nVostraSoftwareService.exe was not "
                                     "installed"_s});
        run(ID_SERVICE_INSTALL);
        QCOMPARE(errors, QStringList{u"Service -i:\n\ncannot write /etc/x (exit status 1)\n"
                                     "cannot write /etc/x (exit status 1)"_s});
        std::filesystem::remove(programs + HARDWARE_SERVICE_PROGRAM);
        std::filesystem::remove(record);
        run(ID_SERVICE_UNINSTALL);
        QCOMPARE(errors.size(), qsizetype(1));
        QVERIFY(
            errors[0].startsWith(u"Service -u:\n\nVostraHardwareService.exe could not be run: "_s));
        QVERIFY(!std::filesystem::exists(record)); // the software program did not run either
    }

    // Save asks for a name once, then writes to it; a failed save says why and changes nothing;
    // the title names the document. Printing wraps long lines.
    void SaveWritesToItsNameAndPrintingWraps()
    {
        CTempDir dir;
        CMainFrame frame;
        QVERIFY(frame.Create());
        QCOMPARE(frame.windowTitle(), u"Untitled - Zelbin"_s);
        QStringList prompts, errors;
        QString answer = QString::fromStdString(dir / "first");
        frame.SetFileNamePrompt(
            [&](bool bSave)
            {
                prompts << (bSave ? u"save"_s : u"open"_s);
                return answer;
            });
        frame.SetErrorReporter([&](const QString& text) { errors << text; });
        CZelbinView* pView = frame.GetActiveView();
        pView->setPlainText(u"line one \u00e9\nline two"_s);

        frame.Action(ID_FILE_SAVE)->trigger();
        QCOMPARE(prompts, QStringList{u"save"_s});
        QCOMPARE(ReadFile(dir / "first.log"), std::string("line one \xC3\xA9\r\nline two"));
        QCOMPARE(frame.windowTitle(), u"first.log - Zelbin"_s);
        pView->moveCursor(QTextCursor::End); // where the technician types
        pView->insertPlainText(u" edited"_s);
        frame.Action(ID_FILE_SAVE)->trigger(); // no second question
        QCOMPARE(prompts.size(), qsizetype(1));
        QCOMPARE(ReadFile(dir / "first.log"), std::string("line one \xC3\xA9\r\nline two edited"));

        answer = QString::fromStdString(dir / "missing/x.log");
        frame.Action(ID_FILE_SAVE_AS)->trigger();
        QCOMPARE(errors.size(), qsizetype(1));
        QVERIFY(errors[0].startsWith(u"The log could not be saved as \""_s + answer));
        QCOMPARE(frame.windowTitle(), u"first.log - Zelbin"_s);

        // Printed text wraps at the page's width (the screen keeps long lines whole); Print
        // Direct prints without a dialog.
        pView->setPlainText(QString(2000, QLatin1Char('x')) + u" end"_s);
        auto pPrint = pView->CreatePrintDocument();
        pPrint->setPageSize(QSizeF(400, 600));
        QVERIFY(pPrint->pageCount() >= 1); // lays the copy out
        QVERIFY(pPrint->firstBlock().layout()->lineCount() > 10);
        QCOMPARE(pView->document()->firstBlock().layout()->lineCount(), 1);

        frame.GetPrinter()->setOutputFormat(QPrinter::PdfFormat);
        frame.GetPrinter()->setOutputFileName(QString::fromStdString(dir / "direct.pdf"));
        frame.Action(ID_FILE_PRINT_DIRECT)->trigger();
        QVERIFY(ReadFile(dir / "direct.pdf").rfind("%PDF", 0) == 0);
    }

    // Follow: selecting, scrolling up or turning Follow off pauses it; new lines are appended while
    // selection and scroll position stay, and the status bar counts them; Ctrl+End or Follow
    // follows again; a clear while paused forgets the count. While following, the last line stays
    // whole in view whatever shrinks it: find bar, filter pane, a smaller or maximised window.
    void FollowPausesForTheUserAndKeepsTheLastLineInView()
    {
        CTempDir dir;
        const std::string path = dir / "follow.log";
        std::string text;
        for (int i = 0; i < 200; ++i)
            text += "line " + std::to_string(i) + "\r\n";
        std::ofstream(path, std::ios::binary) << text;
        CMainFrame frame;
        QVERIFY(frame.Create());
        frame.resize(600, 300);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        CZelbinView* pView = frame.GetActiveView();
        pView->SetLogFile(std::u16string(path.begin(), path.end()));
        QVERIFY(pView->IsFollowing());
        QVERIFY(pView->textCursor().atEnd());
        const auto lastLineWhole = [&] // the last line with text
        {
            const QRect r =
                pView->cursorRect(QTextCursor(pView->document()->lastBlock().previous()));
            return r.top() >= 0 && r.bottom() < pView->viewport()->height();
        };
        QTRY_VERIFY(lastLineWhole());
        const auto append = [&](int n)
        {
            std::string more;
            for (int i = 0; i < n; ++i)
                more += "more " + std::to_string(i) + "\r\n";
            Append(*pView, path, more);
        };

        // A selection pauses; new lines leave it where it is.
        QTextCursor selection(pView->document()->findBlockByNumber(10));
        selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        pView->setTextCursor(selection);
        QVERIFY(!pView->IsFollowing());
        append(3);
        QCOMPARE(pView->textCursor().selectedText(), u"line 10"_s);
        QCOMPARE(pView->GetNewLinesWhilePaused(), 3);
        QCOMPARE(frame.statusBar()->currentMessage(), u"3 new lines, Ctrl+End to follow"_s);
        QTest::keyClick(pView, Qt::Key_End, Qt::ControlModifier);
        QVERIFY(pView->IsFollowing());
        QCOMPARE(frame.statusBar()->currentMessage(), u"Ready"_s);
        append(1);
        QVERIFY(pView->textCursor().atEnd());

        // Scrolling up pauses; the scroll position stays.
        pView->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
        QTRY_VERIFY(!pView->IsFollowing());
        append(50);
        QCOMPARE(pView->verticalScrollBar()->value(), 0);

        // Follow off and on again from the View menu.
        frame.Action(ID_VIEW_FOLLOW)->trigger();
        QVERIFY(frame.Action(ID_VIEW_FOLLOW)->isChecked()); // ticked as the view follows
        QVERIFY(pView->textCursor().atEnd());
        frame.Action(ID_VIEW_FOLLOW)->trigger();
        QVERIFY(!frame.Action(ID_VIEW_FOLLOW)->isChecked());
        const int before = pView->textCursor().position();
        append(1);
        QCOMPARE(pView->textCursor().position(), before);
        QCOMPARE(frame.statusBar()->currentMessage(), u"1 new line, Ctrl+End to follow"_s);
        pView->Empty(); // what a clear of the service's log does to the view
        QCOMPARE(pView->GetNewLinesWhilePaused(), 0);
        QCOMPARE(frame.statusBar()->currentMessage(), u"Ready"_s);
        QTest::keySequence(pView, QKeySequence(u"Ctrl+End"_s)); // the key the text named
        QVERIFY(pView->IsFollowing());

        append(300);
        frame.resize(700, 500);
        QTRY_VERIFY(lastLineWhole());
        const std::function<void()> shrinks[] = {
            [&] { frame.Action(ID_EDIT_FIND)->trigger(); },
            [&] { frame.Action(ID_VIEW_FILTER)->trigger(); },
            [&] { frame.resize(640, 330); },
        };
        for (const auto& shrink : shrinks)
        {
            shrink();
            QTRY_VERIFY(lastLineWhole());
            QVERIFY(pView->IsFollowing());
        }
    }

    // Find and the filter pane over a growing log: counts, F3 and Shift+F3 going round the end,
    // filtered lines with their numbers growing as lines arrive, and both right again at once
    // after the view is emptied (a clear, or the text limit's new batch).
    void FindAndFilterStayRightAcrossAClearAndTheLimit()
    {
        CTempDir dir;
        const std::string path = dir / "find.log";
        std::ofstream(path, std::ios::binary)
            << "alpha\r\nan ERROR here\r\nbeta\r\nerror, error\r\n";
        CMainFrame frame;
        QVERIFY(frame.Create());
        CZelbinView* pView = frame.GetActiveView();
        pView->SetTextLimit(60);
        pView->SetLogFile(std::u16string(path.begin(), path.end()));
        CFindBar* pFind = frame.GetFindBar();
        CFilterPane* pFilter = frame.GetFilterPane();
        const auto rows = [&] { return Rows(pFilter->GetList()); };

        frame.Action(ID_EDIT_FIND)->trigger();
        pFind->GetEdit()->setText(u"error"_s);
        QTRY_COMPARE(pFind->GetCountText(), u"3 matches"_s);
        frame.Action(ID_EDIT_REPEAT)->trigger();
        QTRY_COMPARE(pFind->GetCountText(), u"1 of 3"_s);
        QCOMPARE(pView->textCursor().selectedText(), u"ERROR"_s);
        QVERIFY(!pView->IsFollowing());                 // the user's selection holds the view
        frame.Action(ID_EDIT_FIND_PREVIOUS)->trigger(); // round the start to the last
        QTRY_COMPARE(pFind->GetCountText(), u"3 of 3"_s);
        QCOMPARE(pView->textCursor().blockNumber(), 3);
        pFind->GetCaseButton()->click(); // the selection is still a match: the second of two
        QTRY_COMPARE(pFind->GetCountText(), u"2 of 2"_s);

        frame.Action(ID_VIEW_FILTER)->trigger();
        QVERIFY(!pFilter->isHidden() && pFilter->GetList()->isHidden()); // no pattern yet
        pFilter->GetEdit()->setText(u"e"_s);
        QTRY_COMPARE(rows(),
                     (QStringList{u"2: an ERROR here"_s, u"3: beta"_s, u"4: error, error"_s}));
        // In one row above the list: the pattern, then its two switches.
        pFilter->layout()->activate();
        QVERIFY(pFilter->GetEdit()->geometry().bottom() < pFilter->GetList()->geometry().top());
        for (const QLabel* pLabel : pFilter->findChildren<QLabel*>()) // "Filter:" before its field
            if (pLabel->text() == u"&Filter:"_s)
                QVERIFY(pLabel->geometry().right() < pFilter->GetEdit()->geometry().left());
        QVERIFY(pFilter->GetEdit()->x() < pFilter->GetCaseButton()->x() &&
                pFilter->GetCaseButton()->x() < pFilter->GetRegexButton()->x());
        Append(*pView, path, "gamma error\r\n");
        QTRY_COMPARE(rows().last(), u"5: gamma error"_s);
        QTRY_COMPARE(pFind->GetCountText(), u"2 of 3"_s); // the selected match keeps its number
        pFilter->Activate(0);
        QCOMPARE(pView->textCursor().blockNumber(), 1);

        // 55 characters:
        Append(*pView, path, "over the limit: the view holds this batch alone, error\r\n");
        QTRY_COMPARE(rows(),
                     QStringList{u"1: over the limit: the view holds this batch alone, error"_s});
        QTRY_COMPARE(pFind->GetCountText(), u"1 match"_s);
        pView->Empty();
        QVERIFY(rows().isEmpty());
        QTRY_COMPARE(pFind->GetCountText(), u"0 matches"_s);
        Append(*pView, path, "error again\r\n");
        QTRY_COMPARE(rows(), QStringList{u"1: error again"_s});

        pFind->GetRegexButton()->click();
        pFind->GetEdit()->setText(u"err(or"_s);
        QTRY_COMPARE(pFind->GetCountText(), u"Not a regular expression"_s);
        QVERIFY(!pFind->FindNext());
        pFind->GetEdit()->setText(u".{0,1000}Z"_s); // compiles, but would take seconds a line
        QTRY_COMPARE(pFind->GetCountText(), u"Too complex an expression"_s);
        pFind->GetEdit()->setText(u"z*"_s); // only empty matches, which count for nothing
        QTRY_COMPARE(pFind->GetCountText(), u"0 matches"_s);
        QVERIFY(!pFind->FindNext());
        pFilter->GetRegexButton()->click();
        pFilter->GetEdit()->setText(u"^e.*n$"_s);
        QTRY_COMPARE(rows(), QStringList{u"1: error again"_s});
        QTest::keyClick(pFind->GetEdit(), Qt::Key_Escape);
        QVERIFY(pFind->isHidden());
        QTest::keyClick(pFilter->GetEdit(), Qt::Key_Escape);
        QVERIFY(pFilter->isHidden() && !frame.Action(ID_VIEW_FILTER)->isChecked());
    }

    // Lines take the first matching rule's colours; the rules edited in View > Highlighting…
    // are kept and come back in the next window, an empty list included.
    void HighlightRulesAreSavedAndRestored()
    {
        QSettings(u"Kivra Technologies"_s, u"Zelbin"_s).remove(u"Highlighting"_s);
        const auto colourOf = [](CMainFrame& frame, const QString& line)
        {
            CZelbinView* pView = frame.GetActiveView();
            pView->setPlainText(line);
            const auto formats = pView->document()->firstBlock().layout()->formats();
            return formats.isEmpty() ? QColor() : formats[0].format.foreground().color();
        };
        const QString debug = u"2026-12-06 10:00:00.000 DEBUG boom"_s;
        {
            CMainFrame frame;
            QVERIFY(frame.Create());
            const QPalette palette = frame.GetActiveView()->palette();
            QCOMPARE(colourOf(frame, debug), ResolveHighlightColour(u"Purple"_s, palette, false));
            QCOMPARE(colourOf(frame, debug + u" failed"_s),
                     ResolveHighlightColour(u"Red"_s, palette, false)); // the first rule wins
            QString shown; // a colour chosen in the table is shown in its cell at once
            frame.SetHighlightingDialogRunner(
                [&shown](CHighlightingDlg& dialog)
                {
                    dialog.GetTable()->clear();
                    dialog.AddRule({u"boom"_s, u"Link"_s, u"Orange"_s});
                    QAbstractItemModel* pModel = dialog.GetTable()->model();
                    pModel->setData(pModel->index(0, 2), u"Red"_s, Qt::UserRole);
                    shown = dialog.GetTable()->topLevelItem(0)->text(2);
                    return true;
                });
            frame.Action(ID_VIEW_HIGHLIGHTING)->trigger();
            QCOMPARE(shown, u"Red"_s);
            QCOMPARE(colourOf(frame, debug), palette.color(QPalette::Link));
            // Lines that scroll into view are coloured as they come.
            CZelbinView* pView = frame.GetActiveView();
            frame.show();
            pView->setPlainText((debug + u"\n"_s).repeated(5000));
            pView->verticalScrollBar()->setValue(pView->verticalScrollBar()->maximum());
            const auto last = [&] { return pView->document()->lastBlock().previous().layout(); };
            QTRY_VERIFY(!last()->formats().isEmpty());
        }
        {
            CMainFrame again;
            QVERIFY(again.Create());
            QCOMPARE(colourOf(again, debug),
                     again.GetActiveView()->palette().color(QPalette::Link));
            again.SetHighlightingDialogRunner(
                [](CHighlightingDlg& dialog)
                {
                    dialog.RemoveCurrentRule();
                    return true;
                });
            again.Action(ID_VIEW_HIGHLIGHTING)->trigger();
        }
        CMainFrame third;
        QVERIFY(third.Create());
        QCOMPARE(colourOf(third, debug), QColor());
        QSettings(u"Kivra Technologies"_s, u"Zelbin"_s).remove(u"Highlighting"_s);

        QVERIFY(!ResolveHighlightColour(u"no such colour"_s, QPalette(), false).isValid());
    }

    // Each menu opens with Alt and its letter, unique in its bar and menu; shortcuts show from one
    // definition (no tab in a text), "\u2026" everywhere; F6 and Shift+F6 go round the panes.
    void KeyboardReachesEverything()
    {
        CMainFrame frame;
        QVERIFY(frame.Create());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const auto mnemonic = [](const QString& text)
        {
            const qsizetype at = text.indexOf(QLatin1Char('&'));
            return at < 0 || at + 1 >= text.size() ? QChar() : text[at + 1].toLower();
        };
        const std::function<void(const QList<QAction*>&)> checkLetters = [&](const auto& actions)
        {
            QString letters;
            for (QAction* pItem : actions)
            {
                const QString text = pItem->text();
                QVERIFY2(!text.contains(QLatin1Char('\t')) && !text.contains(u"..."_s),
                         qPrintable(text));
                if (pItem->isSeparator() || text.isEmpty() || !pItem->isVisible())
                    continue;
                QVERIFY2(!mnemonic(text).isNull() && !letters.contains(mnemonic(text)),
                         qPrintable(text));
                letters += mnemonic(text);
                if (pItem->menu())
                    checkLetters(pItem->menu()->actions());
            }
        };
        checkLetters(frame.menuBar()->actions());
        QStringList titles;
        for (QAction* pMenu : frame.menuBar()->actions())
            titles << pMenu->text();
        QCOMPARE(titles, (QStringList{u"&File"_s, u"&Edit"_s, u"&View"_s, u"&Log"_s, u"&Service"_s,
                                      u"&Help"_s, u"E&xtras"_s}));

        CZelbinView* pView = frame.GetActiveView();
        frame.Action(ID_EDIT_FIND)->trigger();
        frame.Action(ID_VIEW_FILTER)->trigger();
        frame.GetReceiversToolbar()->SetReceiverEntry(7, 1, u"Room 7");
        QWidget* panes[] = {pView, frame.GetFindBar()->GetEdit(), frame.GetFilterPane()->GetEdit(),
                            frame.GetReceiversToolbar()->GetListWidget()};
        pView->setFocus();
        for (int i = 1; i <= 4; ++i)
        {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
            QTRY_VERIFY(panes[i % 4]->hasFocus());
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
        QTRY_VERIFY(panes[3]->hasFocus());
    }

    // Highlighting: a new rule goes first and opens for typing, rules move up and down, colours
    // are swatches with their names (a rule saved under a former name keeps its colour).
    void HighlightRulesCanBeOrdered()
    {
        CHighlightingDlg dialog(DefaultHighlightRules());
        dialog.show();
        QTreeWidget* pTable = dialog.GetTable();
        dialog.AddNewRule();
        QCOMPARE(pTable->indexOfTopLevelItem(pTable->currentItem()), 0);
        auto* pEditor = pTable->findChild<QLineEdit*>(); // open on the new rule's expression
        QVERIFY(pEditor && pEditor->isVisible());
        QTest::keyClicks(pEditor, u"mine"_s);
        QTest::keyClick(pEditor, Qt::Key_Return);
        QTRY_COMPARE(dialog.GetRules().front().pattern, u"mine"_s); // committed after the key
        QCOMPARE(dialog.GetRules().size(), DefaultHighlightRules().size() + 1);
        dialog.MoveCurrentRule(1);
        QCOMPARE(dialog.GetRules()[1].pattern, u"mine"_s);
        dialog.MoveCurrentRule(-1);
        dialog.MoveCurrentRule(-1); // already first: stays
        QCOMPARE(dialog.GetRules()[0].pattern, u"mine"_s);
        QVERIFY(!pTable->topLevelItem(1)->icon(1).isNull()); // the errors' red swatch
        QCOMPARE(pTable->topLevelItem(1)->text(1), u"Red"_s);

        QPalette palette;
        palette.setColor(QPalette::PlaceholderText, QColor(1, 2, 3));
        QCOMPARE(ResolveHighlightColour(u"Placeholder text"_s, palette, false), QColor(1, 2, 3));
        QCOMPARE(CurrentHighlightColourName(u"Alternate base"_s),
                 u"Background (follows the theme)"_s);
    }

    // The window and every dialog open inside the available screen, whatever was saved or
    // however large they were made; the geometry and View > Theme's choice are kept between runs.
    void TheWindowFitsTheScreenAndRemembersItself()
    {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const auto inside = [&](QWidget& w) { return screen.contains(QRect(w.pos(), w.size())); };
        {
            CMainFrame frame;
            QVERIFY(frame.Create());
            frame.setGeometry(screen.left() + 10, screen.top() + 40, 640, 480);
            frame.SaveGeometry();
            frame.Action(ID_VIEW_THEME_SYSTEM + 2)->trigger(); // Dark
            QCOMPARE(QApplication::palette().color(QPalette::Base),
                     DarkPalette().color(QPalette::Base));
            QCOMPARE(LoadTheme(), ETheme::Dark);
            QTRY_VERIFY(frame.GetActiveView()->palette().color(QPalette::Base).lightness() < 128);
        }
        ApplyTheme(ETheme::System); // as the next start finds the application
        {
            CZelbinApp app; // the next start puts the window where it was, in the kept theme
            QVERIFY(app.InitInstance());
            CMainFrame& again = *app.GetMainFrame();
            QCOMPARE(again.size(), QSize(640, 480));
            QCOMPARE(QApplication::palette().color(QPalette::Base),
                     DarkPalette().color(QPalette::Base));
            QVERIFY(again.Action(ID_VIEW_THEME_SYSTEM + 2)->isChecked());
            again.Action(ID_VIEW_THEME_SYSTEM)->trigger();
            QCOMPARE(LoadTheme(), ETheme::System);
            QVERIFY(QApplication::palette().color(QPalette::Base) !=
                    DarkPalette().color(QPalette::Base));
            again.setGeometry(screen.right() + 300, screen.bottom() + 300, 400, 300);
            again.SaveGeometry(); // as if on a monitor that is gone now
            app.ExitInstance();
        }
        CMainFrame third;
        QVERIFY(third.Create());
        third.RestoreGeometry();
        QVERIFY(inside(third));
        Settings().remove(u"Window"_s);

        CScreenFitter fitter;
        QDialog dialog;
        dialog.installEventFilter(&fitter);
        dialog.setGeometry(screen.right() - 10, screen.bottom() - 10, screen.width() + 100,
                           screen.height() + 100);
        dialog.show();
        QVERIFY(inside(dialog));
    }

    // Every default rule's colour keeps 4.5:1 against the view in the light and the dark
    // palette, and greyed text differs from the enabled text.
    void ThemesKeepEveryDefaultRuleReadable()
    {
        for (const QPalette& palette : {LightPalette(), DarkPalette()})
            for (const CHighlightRule& rule : DefaultHighlightRules())
            {
                const QColor text = ResolveHighlightColour(rule.foreground, palette, false);
                QColor background = ResolveHighlightColour(rule.background, palette, true);
                if (!background.isValid())
                    background = palette.color(QPalette::Base);
                QVERIFY2(ContrastRatio(text, background) >= 4.5,
                         qPrintable(rule.pattern + u" "_s + text.name()));
            }
        QCOMPARE(ContrastRatio(Qt::black, Qt::white), 21.0);
        for (const QPalette& palette : {LightPalette(), DarkPalette()}) // greyed text tells
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                QVERIFY(palette.color(QPalette::Disabled, role) != palette.color(role));
        QVERIFY(ContrastRatio(DarkPalette().color(QPalette::Text),
                              DarkPalette().color(QPalette::Base)) >= 7);
    }

    // An opened file: a read-only tab of its own, remembered among the recent files; find,
    // filter and copy over the whole file; it grows at its end; the live log comes back with
    // Ctrl+N; a file that cannot be shown is refused with its reason.
    void AnOpenedFileIsADocumentOfItsOwn()
    {
        CTempDir dir;
        const std::string path = dir / "old.log";
        std::string bytes;
        for (int i = 1; i <= 50; ++i)
            bytes += "line " + std::to_string(i) + (i % 7 ? " quiet" : " ERROR") + "\r\n";
        std::ofstream(path, std::ios::binary) << bytes;
        const std::string live = dir / "live.log";
        std::ofstream(live, std::ios::binary) << "live one\r\n";
        CMainFrame frame;
        QVERIFY(frame.Create());
        frame.resize(800, 500);
        frame.show();
        CZelbinView* pView = frame.GetActiveView();
        pView->SetLogFile(std::u16string(live.begin(), live.end()));
        QStringList errors;
        frame.SetErrorReporter([&](const QString& text) { errors << text; });
        frame.SetFileNamePrompt([&](bool) { return QString::fromStdString(path); });

        frame.Action(ID_FILE_OPEN)->trigger();
        CLogFileView* pFile = frame.GetFrontFile();
        QVERIFY(pFile);
        QCOMPARE(frame.windowTitle(), u"old.log (read-only) - Zelbin"_s);
        QCOMPARE(frame.GetTabs()->tabText(1), u"old.log"_s);
        QTRY_COMPARE(pFile->GetIndex().GetLineCount(), int64_t{50});
        QCOMPARE(pFile->ShownLine(6), u"line 7 ERROR"_s);
        QVERIFY(!frame.Action(ID_EDIT_PASTE)->isEnabled() &&
                !frame.Action(ID_FILE_PRINT)->isEnabled());
        QCOMPARE(RecentFiles().first(), QString::fromStdString(path));

        // Find and filter over the opened file, then back on the live log.
        CFindBar* pFind = frame.GetFindBar();
        pFind->Open();
        pFind->GetEdit()->setText(u"error"_s);
        QTRY_COMPARE(pFind->GetCountText(), u"7 matches"_s);
        QVERIFY(pFind->FindNext());
        QCOMPARE(pFind->GetCountText(), u"1 of 7"_s);
        QCOMPARE(pFile->GetSelectionStart().iLine, int64_t{6});
        QVERIFY(pFind->FindPrevious()); // round the start to the last
        QCOMPARE(pFind->GetCountText(), u"7 of 7"_s);
        QCOMPARE(pFile->SelectedText(), u"ERROR"_s);
        // A live line meanwhile is the live log's: the search over the file does not start again.
        QSignalSpy liveChanged(pView->GetSearchTarget(), &CSearchTarget::LinesChanged);
        QSignalSpy searched(&pFind->GetIndex(), &CMatchIndex::Progress);
        std::ofstream(live, std::ios::binary | std::ios::app) << "live three\r\n";
        frame.OnLogUpdated();
        QTRY_COMPARE(liveChanged.size(), 1);
        QCOMPARE(searched.size(), 0);
        QCOMPARE(pFind->GetCountText(), u"7 of 7"_s);
        // The same text as an expression is another search.
        pFind->GetEdit()->setText(u"e.ror"_s);
        QTRY_COMPARE(pFind->GetCountText(), u"0 matches"_s);
        pFind->GetRegexButton()->setChecked(true);
        QTRY_COMPARE(pFind->GetIndex().GetMatchCount(), int64_t{7});
        pFind->GetRegexButton()->setChecked(false);
        pFind->GetEdit()->setText(u"error"_s);
        QTRY_COMPARE(pFind->GetIndex().GetMatchCount(), int64_t{7});
        CFilterPane* pFilter = frame.GetFilterPane();
        pFilter->Open();
        pFilter->GetEdit()->setText(u"line 4"_s);
        QTRY_COMPARE(pFilter->GetList()->model()->rowCount(), 11); // 4, and 40 to 49
        QTRY_COMPARE(pFilter->GetStatusText(), u"11 lines"_s);
        QCOMPARE(Rows(pFilter->GetList()).at(1), u"40: line 40 quiet"_s);
        pFile->ScrollToLine(0, false);
        pFilter->Activate(1); // the file goes to that line, and shows it
        QCOMPARE(pFile->GetSelectionStart().iLine, int64_t{39});
        QVERIFY(pFile->GetTopLine() <= 39 && 39 < pFile->GetTopLine() + pFile->GetRowsInView());
        // A click, and a shift-click on another row: the columns nearest the pointer.
        pFile->ScrollToLine(0, false);
        const int iRow = pFile->fontMetrics().lineSpacing();
        const auto at = [&](int iLine, const QString& before)
        {
            return QPoint(pFile->GetTextLeft() + pFile->fontMetrics().horizontalAdvance(before),
                          iLine * iRow + iRow / 2);
        };
        QTest::mouseClick(pFile->viewport(), Qt::LeftButton, {}, at(1, u"line "_s));
        QTest::mouseClick(pFile->viewport(), Qt::LeftButton, Qt::ShiftModifier, at(2, u"line"_s));
        QCOMPARE(pFile->SelectedText(), u"2 quiet\nline"_s);
        // Copied whole at the copy limit and one byte under it; one byte over is refused with
        // both sizes (13 bytes: the file's CR LF).
        QSignalSpy copied(pFile, &CLogFileView::Copied);
        const std::pair<int, QString> limits[] = {
            {14, u"2 quiet\nline"_s}, {13, u"2 quiet\nline"_s}, {12, QString()}};
        for (const auto& [iLimit, text] : limits)
        {
            pFile->SetCopyLimit(iLimit);
            QApplication::clipboard()->clear();
            const qsizetype iCopies = copied.size();
            frame.Action(ID_EDIT_COPY)->trigger();
            QTRY_COMPARE(copied.size(), iCopies + !text.isEmpty());
            QCOMPARE(QApplication::clipboard()->text(), text);
        }
        QCOMPARE(frame.statusBar()->currentMessage(),
                 u"Not copied: the selection is 13 bytes; at most 12 bytes can be copied (Save As "
                 "writes the whole file)"_s);

        // A drag selects too; a move without the button selects nothing more.
        QTest::mousePress(pFile->viewport(), Qt::LeftButton, {}, at(1, u"line "_s));
        for (const auto& [to, buttons] :
             {std::pair{at(3, u"line"_s), Qt::MouseButtons(Qt::LeftButton)},
              std::pair{at(2, u"line"_s), Qt::MouseButtons()}})
        {
            QMouseEvent move(QEvent::MouseMove, to, pFile->viewport()->mapToGlobal(to),
                             Qt::NoButton, buttons, {});
            QApplication::sendEvent(pFile->viewport(), &move);
        }
        QTest::mouseRelease(pFile->viewport(), Qt::LeftButton, {}, at(3, u"line"_s));
        QCOMPARE(pFile->SelectedText(), u"2 quiet\nline 3 quiet\nline"_s);

        // It grows; a view that was at the end follows to the last new line, once it is indexed.
        pFile->ScrollToLine(50 - pFile->GetRowsInView(), false); // line 50 on the last row
        QVERIFY(pFile->IsAtEnd());
        std::ofstream(path, std::ios::binary | std::ios::app)
            << "line 51 ERROR\r\nline 52\r\nline 53\r\nline 54\r\nline 55\r\n";
        QTRY_COMPARE(pFile->GetIndex().GetLineCount(), int64_t{55});
        QTRY_COMPARE(pFind->GetCountText(), u"8 matches"_s);
        QTRY_VERIFY(pFile->GetTopLine() + pFile->GetRowsInView() > 54);
        const int64_t iTop = pFile->GetTopLine(); // the scroll bar's page is a screen of lines
        pFile->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(pFile->GetTopLine(), iTop - pFile->GetRowsInView());
        pFile->SetSelection({54, 0}, {54, 0}); // past the last match: the next is the first
        QVERIFY(pFind->FindNext());
        QCOMPARE(pFind->GetCountText(), u"1 of 8"_s);
        std::ofstream(path, std::ios::binary) << "short\n"; // shrunk: read anew, with a notice
        QTRY_VERIFY(frame.statusBar()->currentMessage().contains(u"read anew"_s));
        QTRY_COMPARE(pFind->GetCountText(), u"0 matches"_s);

        frame.Action(ID_FILE_NEW)->trigger();
        QCOMPARE(frame.GetFrontFile(), nullptr);
        QTRY_COMPARE(pFind->GetCountText(), u"0 matches"_s); // the live log has none

        // Refused with the reason (LineIndex's tests hold each reason), in a message of its own.
        frame.OpenFile(QString::fromStdString(dir / "missing.log"));
        QCOMPARE(errors.size(), qsizetype(1));
        QVERIFY2(errors[0].contains(u"No such file"_s), qPrintable(errors[0]));
        QCOMPARE(frame.GetTabs()->count(), 2);
        frame.OpenFile(QString::fromStdString(path)); // the tab it has
        QCOMPARE(frame.GetTabs()->count(), 2);
        QCOMPARE(frame.GetFrontFile(), pFile);

        // The limit is 64 MiB: a selection one byte over is refused before any of it is read.
        const std::string big = dir / "big.log";
        std::ofstream(big).close();
        std::filesystem::resize_file(big, 67108865); // sparse: nothing is written
        frame.OpenFile(QString::fromStdString(big));
        QVERIFY(frame.GetFrontFile()->GetIndex().WaitUntilComplete(30000));
        frame.GetFrontFile()->SelectAll();
        QVERIFY(!frame.GetFrontFile()->Copy());
        QCOMPARE(frame.statusBar()->currentMessage(),
                 u"Not copied: the selection is 64 MiB; at most 64 MiB can be copied (Save As "
                 "writes the whole file)"_s);
        // Sizes from 10 MiB on are said in MiB, smaller ones in bytes.
        const std::string ten = dir / "ten.log";
        std::ofstream(ten).close();
        std::filesystem::resize_file(ten, 10485760);
        frame.OpenFile(QString::fromStdString(ten));
        QVERIFY(frame.GetFrontFile()->GetIndex().WaitUntilComplete(30000));
        frame.GetFrontFile()->SetCopyLimit(10485759);
        frame.GetFrontFile()->SelectAll();
        QVERIFY(!frame.GetFrontFile()->Copy());
        QCOMPARE(frame.statusBar()->currentMessage(),
                 u"Not copied: the selection is 10 MiB; at most 10 485 759 bytes can be copied "
                 "(Save As writes the whole file)"_s);

        // Four recent files, the newest first, none twice; the fifth oldest goes, also from
        // the settings, where the list is written beside the window and kept.
        for (const QString& name : {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"c"_s, u"e"_s})
            AddRecentFile(name);
        QCOMPARE(RecentFiles(), (QStringList{u"e"_s, u"c"_s, u"d"_s, u"b"_s}));
        WaitForSettingsWritten();
        QCOMPARE(Settings().value(u"Recent File List/File4"_s).toString(), u"b"_s);
        QVERIFY(!Settings().contains(u"Recent File List/File5"_s));
    }

    // A pattern that backtracks without end in other engines costs nothing here: in the filter
    // pane, the find bar and as a highlight rule, over an opened file; a shutdown is not held up.
    // The settings' rules are read with bounds, the rest ignored with a message.
    void NoPatternHoldsUpTheWindow()
    {
        CTempDir dir;
        const std::string path = dir / "aaa.log";
        std::string aaa;
        for (int i = 0; i < 301; ++i)
            aaa += std::string(40, 'a') + "!\r\n";
        std::ofstream(path, std::ios::binary) << aaa;
        QSettings settings(u"Kivra Technologies"_s, u"Zelbin"_s);
        settings.remove(u"Highlighting"_s);
        settings.beginWriteArray(u"Highlighting"_s, 102);
        for (int i = 0; i < 102; ++i)
        {
            settings.setArrayIndex(i);
            settings.setValue(u"pattern"_s, i == 0   ? u"(a+)+$"_s
                                            : i == 1 ? QString(1001, u'x')
                                                     : u"z"_s);
            settings.setValue(u"foreground"_s, u"Red"_s);
        }
        settings.endArray();
        settings.setValue(u"Highlighting/size"_s, 2147483647); // the file's word for its count
        settings.sync();
        QString ignored;
        const auto rules = LoadHighlightRules(settings, &ignored);
        QCOMPARE(rules.size(), size_t{99}); // 100 read, one of them too long
        QCOMPARE(ignored, u"Highlighting: ignored 2147483547 rules after the first 100 and 1 with "
                          "a pattern over 1000 characters"_s);
        {
            CMainFrame frame;
            QVERIFY(frame.Create());
            frame.show();
            QTRY_VERIFY(frame.statusBar()->currentMessage().startsWith(u"Highlighting: ignored"_s));
            frame.OpenFile(QString::fromStdString(path));
            CFindBar* pFind = frame.GetFindBar();
            const auto start = std::chrono::steady_clock::now();
            pFind->Open();
            pFind->GetRegexButton()->setChecked(true);
            pFind->GetEdit()->setText(u"(a+)+$"_s);
            frame.GetFilterPane()->Open();
            frame.GetFilterPane()->GetRegexButton()->setChecked(true);
            frame.GetFilterPane()->GetEdit()->setText(u"(a|aa)+$"_s);
            QTRY_COMPARE(pFind->GetCountText(), u"0 matches"_s);
            QTRY_COMPARE(frame.GetFilterPane()->GetStatusText(), u"0 lines"_s);
            frame.grab(); // painted, highlight rules and all
            QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(1));
            // A line with 2000 matches is shaped once when it is painted, not once a match.
            const std::string wide = dir / "wide.log";
            std::string line;
            for (int i = 0; i < 2000; ++i)
                line += "a ";
            std::ofstream(wide, std::ios::binary) << line << "\r\n";
            frame.OpenFile(QString::fromStdString(wide));
            QTRY_COMPARE(frame.GetFrontFile()->GetIndex().GetLineCount(), int64_t{1});
            frame.GetFindBar()->GetRegexButton()->setChecked(false);
            frame.GetFindBar()->GetEdit()->setText(u"a"_s);
            QTRY_COMPARE(frame.GetFindBar()->GetCountText(), u"2 000 matches"_s);
            const auto paint = std::chrono::steady_clock::now(); // the paint alone, not the search
            frame.grab();
            QVERIFY(std::chrono::steady_clock::now() - paint < std::chrono::seconds(1));
        }
        settings.remove(u"Highlighting"_s);
    }

    void TheViewKeepsTheNewestTextAndReadsALargeLogInTheBackground()
    {
        CTempDir dir;
        std::string path = dir / "limit.log";
        std::ofstream(path, std::ios::binary) << "0123456789\r\n";
        CZelbinView view;
        view.SetTextLimit(20);
        view.SetLogFile(std::u16string(path.begin(), path.end()));
        QCOMPARE(view.toPlainText(), u"0123456789\n"_s);
        // The control holds line ends as one character: 11 + 9 is exactly its limit.
        Append(view, path, "abcdefgh\r\n");
        QCOMPARE(view.toPlainText(), u"0123456789\nabcdefgh\n"_s);
        // One over: refused, and the new text replaces the old.
        Append(view, path, "x\r\n");
        QCOMPARE(view.toPlainText(), u"x\n"_s);

        // More than 1 MiB is read on another thread and put in in pieces; a notice meanwhile is
        // applied after it, and a view closed while it reads stops the read.
        path = dir / "large.log";
        std::string text;
        std::vector<std::string> lines;
        while (text.size() <= 1024 * 1024 + 1)
        {
            lines.push_back("line " + std::to_string(lines.size()));
            text += lines.back() + "\r\n";
        }
        std::ofstream(path, std::ios::binary) << text;
        const std::u16string wide(path.begin(), path.end());
        {
            CZelbinView closed;
            closed.SetLogFile(wide);
            QVERIFY(closed.IsReading());
        }
        CZelbinView large;
        large.SetTextLimit(600000);
        QSignalSpy progress(&large, &CZelbinView::ReadingProgress);
        large.SetLogFile(wide);
        QVERIFY(large.IsReading());
        Append(large, path, "after\r\n");
        QTRY_VERIFY(!large.IsReading());
        QCOMPARE(progress.first().first().toInt(), 0);
        QCOMPARE(progress.last().first().toInt(), 100);
        // The batch is emptied whenever it reaches 599999 units (a line and its CR LF).
        QString expected;
        size_t iUnits = 0;
        for (const std::string& line : lines)
        {
            expected += QString::fromStdString(line) + QLatin1Char('\n');
            iUnits += line.size() + 2;
            if (iUnits + 1 >= 600000)
            {
                expected.clear();
                iUnits = 0;
            }
        }
        QCOMPARE(large.toPlainText(), expected + u"after\n"_s);
    }
};

ZELBIN_QTEST_MAIN(MainFrameTest)
#include "mainframe_test.moc"
