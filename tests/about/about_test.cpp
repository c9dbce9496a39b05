// SPDX-License-Identifier: MIT
// The About sheet's pages with and without its licence, and the hyperlink control's targets.

#include "aboutsheet.h"
#include "qtestmain.h"
#include "staticlink.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace
{
QStringList TabTexts(const CAboutSheet& sheet)
{
    QStringList tabs;
    for (int i = 0; i < sheet.GetTabs()->count(); ++i)
        tabs << sheet.GetTabs()->tabText(i);
    return tabs;
}

} // namespace

class AboutTest : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString Write(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }

private slots:
    void PagesWithAndWithoutTheLicence()
    {
        const QString licence =
            Write(u"License.txt"_s,
                  QByteArray("MIT License\r\n\r\nPermission is hereby\r\ngranted, free\r\n"));
        // Left to right even in a right-to-left application: its texts are not translated.
        qApp->setLayoutDirection(Qt::RightToLeft);
        CAboutSheet with(u"About Zelbin Application.", nullptr, 0, u"Zelbin",
                         u"Use this application.", u"", licence.toStdU16String().c_str());
        const Qt::LayoutDirection direction = with.layoutDirection();
        qApp->setLayoutDirection(Qt::LeftToRight);
        QCOMPARE(direction, Qt::LeftToRight);
        QCOMPARE(TabTexts(with), (QStringList{u"Description"_s, u"License"_s,
                                              u"Intellectual Property"_s, u"Technical Support"_s}));
        QCOMPARE(with.windowTitle(), u"About Zelbin Application."_s);
        // A long description wraps in its page: no line is cut off at the page's right edge.
        CAboutSheet wordy(u"About", nullptr, 0, u"Zelbin",
                          u"Use this application. "_s.repeated(60).toStdU16String().c_str(), u"",
                          licence.toStdU16String().c_str());
        wordy.show();
        auto* pViewport = wordy.findChild<QLabel*>(u"1004"_s)->parentWidget()->parentWidget();
        QVERIFY(pViewport->findChild<QLabel*>(u"1004"_s)->geometry().right() < pViewport->width());
        auto* pTabs = with.findChild<QTabWidget*>();
        QVERIFY(pTabs->minimumWidth() > pTabs->tabBar()->sizeHint().width()); // every tab whole
        // Wrapped once, by the page: the file's own line breaks within a paragraph are gone.
        QCOMPARE(with.findChild<QPlainTextEdit*>(u"1008"_s)->toPlainText(),
                 u"MIT License\n\nPermission is hereby granted, free"_s);
        // Every page but the licence has the title and the copyright warning, and scrolls rather
        // than cut its text when the sheet is small (a small screen at twice the scale).
        for (const char* name : {"ABOUT_DESCRIPTION", "ABOUT_COPYRIGHT", "ABOUT_TECHSUPPORT"})
        {
            QWidget* pPage = with.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY(qobject_cast<QScrollArea*>(pPage->parentWidget()->parentWidget()));
            const auto text = [&](const QString& id)
            {
                auto* pLabel = pPage->findChild<QLabel*>(id);
                return pLabel ? pLabel->text() : QString();
            };
            QCOMPARE(text(u"1001"_s), u"Zelbin"_s);
            QVERIFY2(text(u"1002"_s).startsWith(
                         u"Warning: this computer program is protected by copyright law"_s),
                     name);
        }
        auto* pRights =
            with.findChild<QWidget*>(u"ABOUT_COPYRIGHT"_s)->findChild<QLabel*>(u"1006"_s);
        QCOMPARE(pRights ? pRights->text() : QString(),
                 u"Copyright (c) 2026 The Zelbin developers."_s);
        // Help shows the support page; OK accepts.
        const auto buttons = with.findChildren<QPushButton*>();
        const auto button = [&](const QString& text)
        {
            return *std::find_if(buttons.begin(), buttons.end(),
                                 [&](auto* p) { return p->text() == text; });
        };
        button(u"Help"_s)->click();
        QCOMPARE(with.GetTabs()->currentIndex(), 3);
        button(u"OK"_s)->click();
        QCOMPARE(with.result(), int(QDialog::Accepted));
        bool bBoxShown = false;
        QTimer::singleShot(
            0,
            [&]
            {
                if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                {
                    bBoxShown = pBox->text().contains(u"was not found"_s);
                    pBox->accept();
                }
            });
        const QString missing = dir.filePath(u"Missing.txt"_s);
        CAboutSheet without(u"About", nullptr, 0, u"Zelbin", u"Description", u"",
                            missing.toStdU16String().c_str());
        QVERIFY(bBoxShown); // the error box comes before the sheet
        QCOMPARE(TabTexts(without), (QStringList{u"Description"_s, u"Intellectual Property"_s,
                                                 u"Technical Support"_s}));
    }

    // UTF-16 LE only with its byte-order mark; anything else in the locale's encoding (UTF-8 here).
    void TextFilesReadInTheirEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-16 with its mark")
            << QByteArray::fromHex("fffe4100e900ac20") << u"A\u00e9\u20ac"_s;
        QTest::newRow("UTF-16, odd last byte") << QByteArray::fromHex("fffe410042") << u"A"_s;
        QTest::newRow("FF, no mark") << QByteArray::fromHex("ff4142") << u"\ufffdAB"_s;
        QTest::newRow("FF alone") << QByteArray::fromHex("ff") << u"\ufffd"_s;
        QTest::newRow("UTF-8") << QByteArray("MIT \xE2\x82\xAC\r\n") << u"MIT \u20ac\r\n"_s;
    }
    void TextFilesReadInTheirEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QString text;
        QVERIFY(ReadAboutTextFile(Write(u"Text.txt"_s, bytes), text, nullptr));
        QCOMPARE(text, shown);
    }

    void LinksOpenMailAndWebTargets_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("opened");
        QTest::newRow("label and two addresses")
            << u"E-mail: x@y.example z@w.example"_s << u"mailto:x@y.example;z@w.example;"_s;
        QTest::newRow("web address")
            << u"http://zelbin.example/help"_s << u"http://zelbin.example/help"_s;
        QTest::newRow("seven characters") << u"a@b.cd"_s << u"a@b.cd;"_s;
        QTest::newRow("eight characters") << u"ab@c.de"_s << u"mailto:ab@c.de;"_s;
        QTest::newRow("mailto kept") << u"MAILTO:q@r.example"_s << u"MAILTO:q@r.example;"_s;
    }
    void LinksOpenMailAndWebTargets()
    {
        QFETCH(QString, text);
        QFETCH(QString, opened);
        QStringList calls;
        CStaticLink::SetOpener(
            [&](const QString& target)
            {
                calls << target;
                return true;
            });
        CStaticLink link(QString(), false, true);
        link.setText(text);
        QCOMPARE(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QTest::mouseClick(&link, Qt::LeftButton);
        QCOMPARE(calls, QStringList{opened});
        QCOMPARE(link.palette().color(QPalette::WindowText), QColor(128, 0, 128));
    }

    // A link takes the focus by tab and click, shows a hand, and draws a dotted frame in its
    // colour around its text while it has the focus, and only then.
    void ALinkShowsItsFocusAndAHand()
    {
        CStaticLink link(QString(), false, true);
        link.setText(u"support@zelbin.example"_s);
        link.resize(link.sizeHint() + QSize(8, 20)); // the text centred, clear of the top row
        QCOMPARE(link.focusPolicy(), Qt::StrongFocus);
        QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(link.font().underline());
        // What a screen reader says the link does.
        QCOMPARE(QAccessible::queryAccessibleInterface(&link)->text(QAccessible::Description),
                 u"Press"_s);
        const auto bluePixels = [&](int iFromRow, int iToRow) // the link's colour in those rows
        {
            const QImage image = link.grab().toImage();
            int count = 0;
            for (int y = iFromRow; y < std::min(iToRow, image.height()); ++y)
                for (int x = 0; x < image.width(); ++x)
                    count += image.pixelColor(x, y) == QColor(0, 0, 255);
            return count;
        };
        const auto topRowPixels = [&] { return bluePixels(0, 1); };
        QCOMPARE(topRowPixels(), 0);
        const int textWidth = link.fontMetrics().horizontalAdvance(link.text());
        const int iBlue = bluePixels(1, INT_MAX); // the text, underlined in the link's blue
        QVERIFY2(iBlue > textWidth / 2, qPrintable(QString::number(iBlue)));
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(&link, &in);
        QVERIFY2(topRowPixels() > textWidth / 4, qPrintable(QString::number(topRowPixels())));
        QVERIFY(topRowPixels() < textWidth); // dotted, not solid
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(&link, &out);
        QCOMPARE(topRowPixels(), 0);
    }

    // The documentation link that cannot be opened says why on the page.
    void ALinkThatCannotOpenSaysWhy()
    {
        CStaticLink::SetOpener([](const QString&) { return false; });
        CAboutSheet sheet(u"About", nullptr, 3, u"Zelbin", u"Description", u"", u"");
        auto* pLink = sheet.findChild<CStaticLink*>(u"1020"_s);
        auto* pWhy = sheet.findChild<QLabel*>(u"linkFailure"_s);
        QVERIFY(pLink && pWhy && pWhy->isHidden());
        pLink->Activate();
        QVERIFY(!pWhy->isHidden());
        QCOMPARE(pWhy->text(), u"The documentation is not installed here: %1 is missing."_s.arg(
                                   QCoreApplication::applicationDirPath() + u"/README.md"_s));
    }
};

ZELBIN_QTEST_MAIN(AboutTest)
#include "about_test.moc"
