// SPDX-License-Identifier: MIT
// The texts each dialog and Extras command sends, as the stand-in service receives them, and the
// payload test's run: a text per question with the pause after each, input during a run discarded
// (never replayed), Stop, and totals up to the field's largest without building a text ahead of its
// turn. Each test has the stand-in with receiver 7 ("Room1") and a connected client, made anew.

#include "mainframe.h"
#include "qtestmain.h"
#include "sendcommanddlg.h"
#include "serviceclient.h"
#include "setnetworknamedlg.h"
#include "standin.h"
#include "testresponsepayload.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

class DialogsTest : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<CStandIn> service;
    std::unique_ptr<CServiceClient> client;

private slots:
    void init()
    {
        service = std::make_unique<CStandIn>(std::vector<std::string>{"--receiver", "7:Room1"});
        client = std::make_unique<CServiceClient>();
        QVERIFY(client->IsConnected());
    }
    void cleanup()
    {
        client.reset();
        service.reset();
    }

    void SendCommandSendsTemplatesAndEditsCleanedAndTabsToPlaceholders()
    {
        CSendCommandDlg dialog(7, client.get());
        dialog.SetReceiverLabel(u"7 \u00b7 Room1"_s); // the title names the receiver
        QCOMPARE(dialog.windowTitle(), u"Send Command \u2014 7 \u00b7 Room1"_s);
        QCOMPARE(dialog.GetCommandList()->currentIndex(), 0);
        QCOMPARE(dialog.GetCommandList()->count(), 19);
        QCOMPARE(dialog.GetCommandEdit()->selectedText(), u"<Short Addr High>"_s);
        dialog.OnSend();
        dialog.GetCommandEdit()->setText(u"0X1F,0x20"_s);
        dialog.OnSend();
        dialog.OnSend(); // twice: sent twice, the text unchanged
        QCOMPARE(dialog.GetCommandEdit()->text(), u"0X1F,0x20"_s);
        const std::vector<std::string> expected = {
            "<ShortAddrHigh>,<ShortAddrLow>,<CommandID>,<...>", "0X1F,20", "0X1F,20"};
        QTRY_COMPARE(service->ReceivedCommands("receiver 7"), expected);

        QVERIFY(dialog.GetStatusText().isEmpty());
        service.reset(); // the service goes: a send says that it could not go out
        QTRY_VERIFY(!client->IsConnected());
        dialog.OnSend();
        QCOMPARE(dialog.GetStatusText(), u"Not sent: the receiver service is not connected"_s);

        // Tab visits the placeholders, then moves the focus on.
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QLineEdit* pEdit = dialog.GetCommandEdit();
        auto* pSend = dialog.findChild<QPushButton*>(u"1004"_s);
        QCOMPARE(pSend->geometry().left(), pEdit->geometry().left()); // under the command's field
        QVERIFY(pSend->geometry().top() > pEdit->geometry().bottom());
        const struct
        {
            QString text;
            QStringList selections; // after focus, then after each Tab
        } cases[] = {
            {u"0x__,0x__"_s, {u"__"_s, u"__"_s}},
            {u"0x<open,0x__"_s, {QString()}},
        };
        for (const auto& c : cases)
        {
            pSend->setFocus();
            pEdit->setText(c.text);
            pEdit->setFocus(); // the focus handler selects the first placeholder
            QCOMPARE(pEdit->selectedText(), c.selections[0]);
            int selectionStart = pEdit->selectionStart();
            for (int i = 1; i < c.selections.size(); ++i)
            {
                QTest::keyClick(pEdit, Qt::Key_Tab);
                QCOMPARE(pEdit->selectedText(), c.selections[i]);
                QVERIFY(pEdit->selectionStart() > selectionStart);
                selectionStart = pEdit->selectionStart();
            }
            QTest::keyClick(pEdit, Qt::Key_Tab); // nothing left: the focus moves on
            QVERIFY(!pEdit->hasFocus());
        }
        // Key releases reach no control.
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, u"a"_s);
        QVERIFY(QCoreApplication::sendEvent(pEdit, &release));
        auto* pClose = dialog.findChild<QPushButton*>(u"1"_s); // Close, by its identifier
        QVERIFY(pClose);
        pClose->click();
        QVERIFY(!dialog.isVisible());
    }

    void ExtrasSendTheirTextsAndKeepTheirState()
    {
        CMainFrame frame;
        QVERIFY(frame.Create());
        QTRY_VERIFY(frame.GetServiceClient()->IsConnected());
        for (int id : {ID_EXTRAS_REQUIRE_LOGIN, ID_EXTRAS_REQUIRE_TEAM, ID_EXTRAS_REQUIRE_LOGIN,
                       ID_EXTRAS_REQUIRE_TEAM})
        {
            frame.Action(id)->trigger();
            QCOMPARE(frame.Action(ID_EXTRAS_REQUIRE_LOGIN)->isChecked(), frame.IsLoginRequired());
            QCOMPARE(frame.Action(ID_EXTRAS_REQUIRE_TEAM)->isChecked(), frame.IsTeamRequired());
        }
        QTRY_COMPARE(service->ReceivedCommands("all receivers"),
                     (std::vector<std::string>{"0,0,06,3", "0,0,06,7", "0,0,06,5", "0,0,06,2"}));

        QString typed;
        char how = 'O'; // OK, Cancel, or Enter in the field
        QString shownAtOpening, title;
        frame.SetNetworkNameDialogRunner(
            [&](QWidget* pParent, char16_t* pszName, int iCapacity)
            {
                CSetNetworkNameDlg dialog(pParent, pszName, iCapacity);
                shownAtOpening = dialog.GetNameEdit()->text();
                title = dialog.windowTitle();
                dialog.GetNameEdit()->setText(typed);
                dialog.show();
                if (how == 'E')
                    QTest::keyClick(dialog.GetNameEdit(), Qt::Key_Return); // OK is the default
                else
                    dialog.findChild<QPushButton*>(how == 'O' ? u"1"_s : u"2"_s)->click();
                return dialog.result() == QDialog::Accepted;
            });
        const struct
        {
            QString name;
            char how;
            std::string sent; // empty: nothing is sent
            QString shownNext;
        } names[] = {
            {u"ROOM7"_s, 'E', "0,0,05,52,4F,4F,4D,37,0,0,0", u"ROOM7"_s},
            {u"0123456789"_s, 'O', "0,0,05,30,31,32,33,34,35,36,37", u"01234567"_s},
            {u"cancelled"_s, 'C', "", u"01234567"_s},
            {u"\u20ac"_s, 'O', "0,0,05,20AC,0,0,0,0,0,0,0", u"\u20ac"_s},
        };
        std::vector<std::string> sent = service->ReceivedCommands("all receivers");
        for (const auto& n : names)
        {
            typed = n.name;
            how = n.how;
            frame.Action(ID_EXTRAS_NETWORK_NAME)->trigger();
            if (!n.sent.empty())
                sent.push_back(n.sent);
            QTRY_COMPARE(service->ReceivedCommands("all receivers"), sent);
            QCOMPARE(QString::fromStdU16String(frame.GetNetworkName()), n.shownNext);
        }
        frame.Action(ID_EXTRAS_NETWORK_NAME)->trigger();
        QCOMPARE(shownAtOpening,
                 u"\u20ac"_s); // the dialog opens on the name last confirmed
        QCOMPARE(title, u"Set Network Name"_s);

        for (int i = 1; i <= 33; ++i)
            frame.Action(ID_EXTRAS_SAMPLE_QUIZ)->trigger();
        QTRY_VERIFY(service->ReceivedCommands("all receivers").size() >= sent.size() + 1 + 33);
        const std::vector<std::string> all = service->ReceivedCommands("all receivers");
        QVERIFY(all[all.size() - 33].starts_with("0,0,0A,85,0A,"));
        QVERIFY(all[all.size() - 2].starts_with("0,0,0A,81,0A,"));
        QVERIFY(all[all.size() - 1].starts_with("0,0,0A,85,0A,"));
    }

    void SendsOneTextPerQuestionWithTheDefaultsShown()
    {
        CTestResponsePayload dialog(7, client.get());
        dialog.show(); // the response field lines up with the buttons' right edge
        QCOMPARE(dialog.GetResponseEdit()->geometry().right(),
                 dialog.findChild<QPushButton*>(u"2"_s)->geometry().right());
        QCOMPARE(dialog.GetTotalEdit()->text(), u"100"_s);
        QCOMPARE(dialog.GetQuestionTypeList()->currentText(), u"Math"_s);
        QCOMPARE(dialog.GetLatencyEdit()->text(), u"10000"_s);
        QCOMPARE(dialog.GetWindowEdit()->text(), u"6000"_s);
        for (QLineEdit* pEdit : {dialog.GetTotalEdit(), dialog.GetLatencyEdit(),
                                 dialog.GetWindowEdit(), dialog.GetResponseEdit()})
        { // the numbers take digits only; the response takes any text
            pEdit->clear();
            QTest::keyClicks(pEdit, u"1x2"_s);
            QCOMPARE(pEdit->text(), pEdit == dialog.GetResponseEdit() ? u"1x2"_s : u"12"_s);
        }
        dialog.GetTotalEdit()->setText(u"100"_s);
        dialog.GetResponseEdit()->setText(u"typed by hand"_s);
        dialog.GetQuestionTypeList()->setCurrentIndex(2);
        QCOMPARE(dialog.GetResponseEdit()->text(), u"0x27,0x85,0x95,0xd,0x0"_s);

        dialog.GetTotalEdit()->setText(u"0"_s);
        dialog.OnStartTest();
        QVERIFY(!dialog.IsRunning()); // a total of 0 sends nothing
        dialog.GetTotalEdit()->setText(u"3"_s);
        dialog.GetLatencyEdit()->setText(u"0"_s);
        dialog.GetWindowEdit()->setText(u"70000"_s);
        dialog.GetResponseEdit()->setText(u"0X1, 0x2"_s);
        dialog.OnStartTest();
        QTRY_VERIFY(!dialog.IsRunning());
        const std::vector<std::string> expected = {"ff,ff,26,3,11,70,0,0,0,0,4,b,1,0X1,2",
                                                   "ff,ff,26,3,11,70,0,0,0,0,4,b,2,0X1,2",
                                                   "ff,ff,26,3,11,70,0,0,0,0,4,b,3,0X1,2"};
        QTRY_VERIFY(service->ReceivedCommands("receiver 7") == expected);
        QCOMPARE(dialog.GetProgressLabel()->text(), u"Sent 3 question(s)"_s);
    }

    // Clicks on the greyed Start Test and keys in the fields during a run go nowhere; Escape and
    // closing ask whether to stop, and a "no" goes on: when the run ends no second run starts,
    // no field changed and the dialog is still open. Stop ends a run after its pause; a run of
    // the largest total the field gives sends its first text at once.
    void InputDuringARunIsDiscardedAndStopWaitsForThePause()
    {
        CTestResponsePayload dialog(7, client.get());
        int iAsked = 0;
        dialog.SetStopQuestion([&](QWidget*) { return ++iAsked, false; });
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.GetTotalEdit()->setText(u"2"_s);
        dialog.GetLatencyEdit()->setText(u"300"_s);
        dialog.OnStartTest();
        QVERIFY(dialog.IsRunning());
        QCOMPARE(dialog.GetProgressLabel()->text(), u"Question 1 of 2, less than a second left"_s);
        QVERIFY(!dialog.GetStartButton()->isEnabled());
        QTest::mouseClick(dialog.GetStartButton(), Qt::LeftButton);
        QTest::keyClicks(dialog.GetTotalEdit(), u"99"_s);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.reject();
        dialog.close();
        QCOMPARE(iAsked, 3);
        QVERIFY(dialog.isVisible());
        QTRY_VERIFY(!dialog.IsRunning());
        QCoreApplication::processEvents(); // anything held back would be delivered now
        QVERIFY(!dialog.IsRunning());
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.GetTotalEdit()->text(), u"2"_s);
        QCOMPARE(dialog.GetSentCount(), int64_t{2});
        QTRY_COMPARE(service->ReceivedCommands("receiver 7").size(), size_t{2});

        dialog.GetTotalEdit()->setText(u"2147483647"_s);
        dialog.GetLatencyEdit()->setText(u"200"_s);
        dialog.OnStartTest();
        QCOMPARE(dialog.GetSentCount(), int64_t{1}); // the first text left at once
        QVERIFY(dialog.GetStopButton()->isEnabled());
        QTest::mouseClick(dialog.GetStopButton(), Qt::LeftButton);
        QVERIFY(dialog.IsRunning()); // until the pause is over
        QTRY_VERIFY(!dialog.IsRunning());
        QCOMPARE(dialog.GetSentCount(), int64_t{1});
        QVERIFY(dialog.GetProgressLabel()->text().startsWith(u"Stopped after 1 of "_s));
        QVERIFY(!dialog.GetStopButton()->isEnabled());
        QVERIFY(dialog.GetStartButton()->isEnabled());
        // The service's log may take in several lines at once on a busy machine: its count is
        // compared once the run is over, when the dialog sends nothing more.
        QTRY_COMPARE(service->ReceivedCommands("receiver 7").size(), size_t{3});
        dialog.reject(); // closing works again once the run is over
        QVERIFY(!dialog.isVisible());
    }

    // Numbers that no count holds are refused with their reason, nothing sent; the time left
    // is rounded up to whole seconds (under a second: the run above); a "yes" to the stop question
    // ends the run at once and closes; the title names the receiver.
    void PayloadTestSaysWhatItDoes_data()
    {
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("latency");
        QTest::addColumn<QString>("progress");
        QTest::newRow("total one over")
            << u"2147483648"_s << u"0"_s << u"Total Questions must be at most 2147483647."_s;
        QTest::newRow("latency too large")
            << u"3"_s << u"2147483648"_s << u"Latency must be at most 2147483647."_s;
        QTest::newRow("a second exactly")
            << u"2"_s << u"500"_s << u"Question 1 of 2, about 1 s left"_s;
        QTest::newRow("part of a second counts")
            << u"2"_s << u"600"_s << u"Question 1 of 2, about 2 s left"_s;
    }
    void PayloadTestSaysWhatItDoes()
    {
        QFETCH(QString, total);
        QFETCH(QString, latency);
        QFETCH(QString, progress);
        CTestResponsePayload dialog(7, client.get());
        QCOMPARE(dialog.windowTitle(), u"Test Question Response Payload \u2014 receiver 7"_s);
        dialog.SetStopQuestion([](QWidget*) { return true; });
        dialog.show();
        dialog.GetTotalEdit()->setText(total);
        dialog.GetLatencyEdit()->setText(latency);
        dialog.OnStartTest();
        QCOMPARE(dialog.GetProgressLabel()->text(), progress);
        if (!dialog.IsRunning())
        {
            QCOMPARE(dialog.GetSentCount(), int64_t{0});
            // A text sent behind the run's would arrive after anything the run had sent.
            client->SendReceiverCommand(7, u"0,0,00");
            QTRY_COMPARE(service->ReceivedCommands("receiver 7"),
                         std::vector<std::string>{"0,0,00"});
            return;
        }
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.IsRunning());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.GetSentCount(), int64_t{1});
    }
};

ZELBIN_QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
