// SPDX-License-Identifier: MIT
// The payload test's run, as the stand-in service receives it: one text per question with the
// pause after each, input made during a run discarded (never replayed), Stop, and totals up to
// the largest the field can give without building a text ahead of its turn.

#include "dialogservice.h"
#include "qtestmain.h"
#include "serviceclient.h"
#include "standin.h"
#include "testresponsepayload.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class PayloadRunTest : public QObject, protected CDialogService
{
    Q_OBJECT
private:
    size_t Received() { return service->ReceivedCommands("receiver 7").size(); }

private slots:
    void init() { StartService(); }
    void cleanup() { StopService(); }

    void SendsOneTextPerQuestionWithTheDefaultsShown()
    {
        CTestResponsePayload dialog(7, client.get());
        QCOMPARE(dialog.GetTotalEdit()->text(), QStringLiteral("100"));
        QCOMPARE(dialog.GetQuestionTypeList()->currentText(), QStringLiteral("Math"));
        QCOMPARE(dialog.GetLatencyEdit()->text(), QStringLiteral("10000"));
        QCOMPARE(dialog.GetWindowEdit()->text(), QStringLiteral("6000"));
        dialog.GetResponseEdit()->setText(QStringLiteral("typed by hand"));
        dialog.GetQuestionTypeList()->setCurrentIndex(2);
        QCOMPARE(dialog.GetResponseEdit()->text(), QStringLiteral("0x27,0x85,0x95,0xd,0x0"));

        dialog.GetTotalEdit()->setText(QStringLiteral("0"));
        dialog.OnStartTest();
        QVERIFY(!dialog.IsRunning()); // a total of 0 sends nothing
        dialog.GetTotalEdit()->setText(QStringLiteral("3"));
        dialog.GetLatencyEdit()->setText(QStringLiteral("0"));
        dialog.GetWindowEdit()->setText(QStringLiteral("70000"));
        dialog.GetResponseEdit()->setText(QStringLiteral("0X1, 0x2"));
        dialog.OnStartTest();
        QTRY_VERIFY(!dialog.IsRunning());
        const std::vector<std::string> expected = {"ff,ff,26,3,11,70,0,0,0,0,4,b,1,0X1,2",
                                                   "ff,ff,26,3,11,70,0,0,0,0,4,b,2,0X1,2",
                                                   "ff,ff,26,3,11,70,0,0,0,0,4,b,3,0X1,2"};
        QTRY_VERIFY(service->ReceivedCommands("receiver 7") == expected);
        QCOMPARE(dialog.GetProgressLabel()->text(), QStringLiteral("Sent 3 question(s)"));
    }

    // Clicks on the greyed Start Test, keys in the fields and Escape during a run go nowhere:
    // when the run ends no second run starts, no field changed and the dialog is still open.
    void InputDuringARunIsDiscardedNotReplayed()
    {
        CTestResponsePayload dialog(7, client.get());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.GetTotalEdit()->setText(QStringLiteral("2"));
        dialog.GetLatencyEdit()->setText(QStringLiteral("300"));
        dialog.OnStartTest();
        QVERIFY(dialog.IsRunning());
        QCOMPARE(dialog.GetProgressLabel()->text(),
                 QStringLiteral("Question 1 of 2, about 0 s left"));
        QVERIFY(!dialog.GetStartButton()->isEnabled());
        QTest::mouseClick(dialog.GetStartButton(), Qt::LeftButton);
        QTest::keyClicks(dialog.GetTotalEdit(), QStringLiteral("99"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.reject();
        dialog.close();
        QVERIFY(dialog.isVisible());
        QTRY_VERIFY(!dialog.IsRunning());
        QCoreApplication::processEvents(); // anything held back would be delivered now
        QVERIFY(!dialog.IsRunning());
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.GetTotalEdit()->text(), QStringLiteral("2"));
        QCOMPARE(dialog.GetSentCount(), int64_t{2});
        QTRY_COMPARE(Received(), size_t{2});
        dialog.reject(); // closing works again once the run is over
        QVERIFY(!dialog.isVisible());
    }

    // Stop ends the series after the current pause; runs of a million and of the largest total
    // the field gives send their first text at once.
    void StopEndsALongRunAfterItsPause_data()
    {
        QTest::addColumn<QString>("total");
        QTest::newRow("defaults") << QStringLiteral("100");
        QTest::newRow("a million") << QStringLiteral("1000000");
        QTest::newRow("largest") << QStringLiteral("2147483647");
        QTest::newRow("beyond, as _wtoi reads it") << QStringLiteral("99999999999");
    }
    void StopEndsALongRunAfterItsPause()
    {
        QFETCH(QString, total);
        CTestResponsePayload dialog(7, client.get());
        dialog.show();
        dialog.GetTotalEdit()->setText(total);
        dialog.GetLatencyEdit()->setText(QStringLiteral("200"));
        dialog.OnStartTest();
        QTRY_COMPARE(Received(), size_t{1}); // the first text left at once
        QVERIFY(dialog.GetStopButton()->isEnabled());
        QTest::mouseClick(dialog.GetStopButton(), Qt::LeftButton);
        QVERIFY(dialog.IsRunning()); // until the pause is over
        QTRY_VERIFY(!dialog.IsRunning());
        QCOMPARE(dialog.GetSentCount(), int64_t{1});
        QVERIFY(
            dialog.GetProgressLabel()->text().startsWith(QStringLiteral("Stopped after 1 of ")));
        QVERIFY(!dialog.GetStopButton()->isEnabled());
        QVERIFY(dialog.GetStartButton()->isEnabled());
        QCOMPARE(Received(), size_t{1});
    }
};

ZELBIN_QTEST_MAIN(PayloadRunTest)
#include "payloadrun_test.moc"
