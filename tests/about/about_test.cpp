// SPDX-License-Identifier: MIT
// The About sheet's pages, its licence reading, title fitting and version line, and the
// hyperlink control's activation rules.

#include "aboutsheet.h"
#include "qtestmain.h"
#include "staticlink.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

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
            Write(QStringLiteral("License.txt"),
                  QByteArray("MIT License\r\n\r\nPermission is hereby\r\ngranted, free\r\n"));
        CAboutSheet with(u"About Zelbin Application.", nullptr, 0, u"Zelbin",
                         u"Use this application.", u"", licence.toStdU16String().c_str());
        QCOMPARE(TabTexts(with),
                 (QStringList{QStringLiteral("Description"), QStringLiteral("License"),
                              QStringLiteral("Intellectual Property"),
                              QStringLiteral("Technical Support")}));
        QCOMPARE(with.windowTitle(), QStringLiteral("About Zelbin Application."));
        // Wrapped once, by the page: the file's own line breaks within a paragraph are gone.
        QCOMPARE(with.findChild<QPlainTextEdit*>(QStringLiteral("1008"))->toPlainText(),
                 QStringLiteral("MIT License\n\nPermission is hereby granted, free"));
        bool bBoxShown = false;
        QTimer::singleShot(
            0,
            [&]
            {
                if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                {
                    bBoxShown = pBox->text().contains(QStringLiteral("was not found"));
                    pBox->accept();
                }
            });
        const QString missing = dir.filePath(QStringLiteral("Missing.txt"));
        CAboutSheet without(u"About", nullptr, 0, u"Zelbin", u"Description", u"",
                            missing.toStdU16String().c_str());
        QVERIFY(bBoxShown); // the error box comes before the sheet
        QCOMPARE(TabTexts(without), (QStringList{QStringLiteral("Description"),
                                                 QStringLiteral("Intellectual Property"),
                                                 QStringLiteral("Technical Support")}));
        CAboutSheet noDescription(u"About", nullptr, 0, u"Zelbin", u"", u"",
                                  licence.toStdU16String().c_str());
        QCOMPARE(TabTexts(noDescription).first(), QStringLiteral("License"));
    }

    void LinksOpenMailAndWebTargets_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("opened");
        QTest::newRow("e-mail address") << QStringLiteral("support@zelbin.example")
                                        << QStringLiteral("mailto:support@zelbin.example;");
        QTest::newRow("label and address")
            << QStringLiteral("E-mail: a.b@c.example") << QStringLiteral("mailto:a.b@c.example;");
        QTest::newRow("two addresses") << QStringLiteral("x@y.example z@w.example")
                                       << QStringLiteral("mailto:x@y.example;z@w.example;");
        QTest::newRow("web address") << QStringLiteral("http://zelbin.example/help")
                                     << QStringLiteral("http://zelbin.example/help");
        QTest::newRow("short address") << QStringLiteral("a@b") << QStringLiteral("a@b;");
        QTest::newRow("mailto kept")
            << QStringLiteral("MAILTO:q@r.example") << QStringLiteral("MAILTO:q@r.example;");
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
        QCOMPARE(link.GetColour(), CStaticLink::NORMAL_COLOUR);
        QTest::mouseClick(&link, Qt::LeftButton);
        QCOMPARE(calls, QStringList{opened});
        QCOMPARE(link.GetColour(), CStaticLink::VISITED_COLOUR);
    }
};

ZELBIN_QTEST_MAIN(AboutTest)
#include "about_test.moc"
