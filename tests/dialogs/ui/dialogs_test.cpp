// SPDX-License-Identifier: MIT
// The texts that leave each dialog and Extras command, as the stand-in service receives them.

#include "dialogservice.h"
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
#include <QTimer>

namespace
{
QStringList Received(CStandIn& service, const std::string& target)
{
    QStringList texts;
    for (const std::string& text : service.ReceivedCommands(target))
        texts << QString::fromStdString(text);
    return texts;
}
} // namespace

class DialogsTest : public QObject, protected CDialogService
{
    Q_OBJECT
private slots:
    void init() { StartService(); }
    void cleanup() { StopService(); }

    void SendCommandSendsTemplatesAndEditsCleaned()
    {
        CSendCommandDlg dialog(7, client.get());
        QCOMPARE(dialog.GetCommandList()->currentIndex(), 0);
        QCOMPARE(dialog.GetCommandList()->count(), 19);
        QCOMPARE(dialog.GetCommandEdit()->selectedText(), QStringLiteral("<Short Addr High>"));
        dialog.OnSend();
        dialog.GetCommandList()->setCurrentIndex(18);
        dialog.OnSend();
        dialog.GetCommandEdit()->setText(QStringLiteral("0X1F,0x20"));
        dialog.OnSend();
        dialog.OnSend(); // twice: sent twice, the text unchanged
        QCOMPARE(dialog.GetCommandEdit()->text(), QStringLiteral("0X1F,0x20"));
        const QStringList expected = {
            QStringLiteral("<ShortAddrHigh>,<ShortAddrLow>,<CommandID>,<...>"),
            QStringLiteral("ff,ff,26,03,00,00,00,00,00,00,<CommandLength>,<Command>,<...>"),
            QStringLiteral("0X1F,20"), QStringLiteral("0X1F,20")};
        QTRY_COMPARE(Received(*service, "receiver 7"), expected);

        CSendCommandDlg noClient(7, nullptr);
        noClient.OnSend(); // no client: nothing happens
        QVERIFY(dialog.GetStatusText().isEmpty());
        service.reset(); // the service goes: a send says that it could not go out
        QTRY_VERIFY(!client->IsConnected());
        dialog.OnSend();
        QCOMPARE(dialog.GetStatusText(),
                 QStringLiteral("Not sent: the receiver service is not connected"));
    }

    void TabVisitsPlaceholdersThenMovesTheFocusOn()
    {
        CSendCommandDlg dialog(7, client.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QLineEdit* pEdit = dialog.GetCommandEdit();
        auto* pSend = dialog.findChild<QPushButton*>(QStringLiteral("1004"));
        const struct
        {
            QString text;
            QStringList selections; // after focus, then after each Tab
        } cases[] = {
            {QStringLiteral("0x0D,0x<ChannelID>"), {QStringLiteral("<ChannelID>")}},
            {QStringLiteral("0x__,0x__"), {QStringLiteral("__"), QStringLiteral("__")}},
            {QStringLiteral("0x<open,0x__"), {QString()}},
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
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QVERIFY(QCoreApplication::sendEvent(pEdit, &release));
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
        QTRY_COMPARE(Received(*service, "all receivers"),
                     (QStringList{QStringLiteral("0,0,06,3"), QStringLiteral("0,0,06,7"),
                                  QStringLiteral("0,0,06,5"), QStringLiteral("0,0,06,2")}));

        QString typed;
        bool bAccept = true;
        QString shownAtOpening;
        frame.SetNetworkNameDialogRunner(
            [&](QWidget* pParent, char16_t* pszName, int iCapacity)
            {
                CSetNetworkNameDlg dialog(pParent, pszName, iCapacity);
                shownAtOpening = dialog.GetNameEdit()->text();
                dialog.GetNameEdit()->setText(typed);
                if (!bAccept)
                    return false;
                dialog.accept();
                return true;
            });
        const struct
        {
            QString name;
            bool accept;
            QString sent; // empty: nothing is sent
            QString shownNext;
        } names[] = {
            {QStringLiteral("ROOM12"), true, QStringLiteral("0,0,05,52,4F,4F,4D,31,32,0,0"),
             QStringLiteral("ROOM12")},
            {QStringLiteral("ABCDEFGH"), true, QStringLiteral("0,0,05,41,42,43,44,45,46,47,48"),
             QStringLiteral("ABCDEFGH")},
            {QStringLiteral("XY"), true, QStringLiteral("0,0,05,58,59,0,0,0,0,0,0"),
             QStringLiteral("XY")},
            {QStringLiteral("0123456789"), true, QStringLiteral("0,0,05,30,31,32,33,34,35,36,37"),
             QStringLiteral("01234567")},
            {QStringLiteral("cancelled"), false, QString(), QStringLiteral("01234567")},
            {QStringLiteral("\u20ac"), true, QStringLiteral("0,0,05,20AC,0,0,0,0,0,0,0"),
             QStringLiteral("\u20ac")},
        };
        QStringList sent = Received(*service, "all receivers");
        for (const auto& n : names)
        {
            typed = n.name;
            bAccept = n.accept;
            frame.Action(ID_EXTRAS_NETWORK_NAME)->trigger();
            if (!n.sent.isEmpty())
                sent << n.sent;
            QTRY_COMPARE(Received(*service, "all receivers"), sent);
            QCOMPARE(QString::fromStdU16String(frame.GetNetworkName()), n.shownNext);
        }
        frame.Action(ID_EXTRAS_NETWORK_NAME)->trigger();
        QCOMPARE(shownAtOpening,
                 QStringLiteral("\u20ac")); // the dialog opens on the name last confirmed

        for (int i = 1; i <= 33; ++i)
            frame.Action(ID_EXTRAS_SAMPLE_QUIZ)->trigger();
        QTRY_VERIFY(Received(*service, "all receivers").size() >= sent.size() + 1 + 33);
        const QStringList all = Received(*service, "all receivers");
        QVERIFY(all[all.size() - 33].startsWith(QStringLiteral("0,0,0A,85,0A,")));
        QVERIFY(all[all.size() - 2].startsWith(QStringLiteral("0,0,0A,81,0A,")));
        QVERIFY(all[all.size() - 1].startsWith(QStringLiteral("0,0,0A,85,0A,")));
    }
};

ZELBIN_QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
