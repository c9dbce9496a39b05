// SPDX-License-Identifier: MIT
// The About sheet and its pages. There is no language library here: its keys are the captions,
// laid out left to right.

#include "aboutsheet.h"
#include "staticlink.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#ifndef ZELBIN_VERSION
#define ZELBIN_VERSION "0.0.0"
#endif

namespace
{
const char* const WARNING =
    "Warning: this computer program is protected by copyright law and international treaties. "
    "Its source is published under the licence on the License page; reproducing or "
    "distributing it otherwise may be unlawful.";
const char* const RIGHTS = "Copyright (c) 2026 The Zelbin developers.";
const char* const LEGAL_USE =
    "Questions about the legal use of this program are answered by its licence (see "
    "License.txt beside the program) or by the Zelbin developers.";
// Support contacts are set when the program is built (ZELBIN_SUPPORT_EMAIL, _URL, _PHONE): a
// copy built by a school's IT department names its own. Unset, the page says so plainly and
// links the documentation installed with the program instead of inventing an address.
#ifndef ZELBIN_SUPPORT_EMAIL
#define ZELBIN_SUPPORT_EMAIL ""
#endif
#ifndef ZELBIN_SUPPORT_URL
#define ZELBIN_SUPPORT_URL ""
#endif
#ifndef ZELBIN_SUPPORT_PHONE
#define ZELBIN_SUPPORT_PHONE ""
#endif
constexpr int TITLE_WIDTH = 330;

QString ExecutableDirectory()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}
} // namespace

bool ReadAboutTextFile(const QString& name, QString& text, QWidget* pErrorParent)
{
    if (name.isEmpty())
        return false;
    const QString path = name.contains(QLatin1Char('/')) ? name : ExecutableDirectory() + name;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
    {
        QMessageBox::warning(pErrorParent, QStringLiteral("Zelbin"),
                             QStringLiteral("%1 was not found.").arg(path));
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
        static_cast<uint8_t>(bytes[1]) == 0xFE)
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                  (bytes.size() - 2) / 2);
    else
        text = QString::fromLocal8Bit(bytes);
    return true;
}

QString ReflowParagraphs(const QString& text)
{
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList paragraphs;
    QString current;
    for (const QString& line : normal.split(QLatin1Char('\n')))
    {
        if (line.trimmed().isEmpty())
        {
            paragraphs << current;
            current.clear();
            continue;
        }
        current += (current.isEmpty() ? QString() : QStringLiteral(" ")) + line.trimmed();
    }
    paragraphs << current;
    while (!paragraphs.isEmpty() && paragraphs.last().isEmpty())
        paragraphs.removeLast();
    return paragraphs.join(QStringLiteral("\n\n"));
}

int FitTitleFontHeight(const QString& title, int iWidth, const QFont& base)
{
    QFont font = base;
    font.setBold(true);
    int height = 12;
    for (;;)
    {
        font.setPixelSize(height);
        if (QFontMetrics(font).horizontalAdvance(title) < iWidth || height <= 4)
            return height;
        --height;
    }
}

QString VersionLine()
{
    // The file version in four parts, the build time and the build date ("Aug  6 2010").
    QStringList parts = QString::fromLatin1(ZELBIN_VERSION).split(QLatin1Char('.'));
    while (parts.size() < 4)
        parts << QStringLiteral("0");
    const QString version = parts.mid(0, 4).join(QLatin1Char('.'));
    return QStringLiteral("Version %1 %2 %3 ")
        .arg(version, QString::fromLatin1(__TIME__), QString::fromLatin1(__DATE__));
}

QWidget* CAboutSheet::MakeTitledPage(const QString& name)
{
    auto* pPage = new QWidget;
    pPage->setObjectName(name);
    auto* pLayout = new QGridLayout(pPage);
    auto* pIcon = new QLabel(pPage);
    pIcon->setPixmap(windowIcon().pixmap(32, 32));
    pLayout->addWidget(pIcon, 0, 0);
    auto* pTitle = new QLabel(m_title, pPage);
    pTitle->setObjectName(QStringLiteral("1001"));
    pTitle->setFixedWidth(TITLE_WIDTH);
    QFont font = pTitle->font();
    font.setBold(true);
    font.setPixelSize(FitTitleFontHeight(m_title, TITLE_WIDTH, pTitle->font()));
    pTitle->setFont(font);
    pLayout->addWidget(pTitle, 0, 1);
    return pPage;
}

namespace
{
void AddWarning(QWidget* pPage)
{
    auto* pLayout = static_cast<QGridLayout*>(pPage->layout());
    auto* pGroup = new QGroupBox(pPage);
    auto* pGroupLayout = new QVBoxLayout(pGroup);
    auto* pWarning = new QLabel(QString::fromLatin1(WARNING), pGroup);
    pWarning->setObjectName(QStringLiteral("1002"));
    pWarning->setWordWrap(true);
    pGroupLayout->addWidget(pWarning);
    pLayout->addWidget(pGroup, 10, 0, 1, 2);
}

// A page scrolls when the sheet is smaller than its text, as on a small screen at a large scale:
// every line stays readable, none is cut off.
QWidget* Scrollable(QWidget* pPage)
{
    auto* pArea = new QScrollArea;
    pArea->setWidget(pPage);
    pArea->setWidgetResizable(true);
    pArea->setFrameShape(QFrame::NoFrame);
    pArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return pArea;
}

QLabel* AddText(QWidget* pPage, int id, const QString& text, int row)
{
    auto* pLabel = new QLabel(text, pPage);
    pLabel->setObjectName(QString::number(id));
    pLabel->setWordWrap(true);
    static_cast<QGridLayout*>(pPage->layout())->addWidget(pLabel, row, 1);
    return pLabel;
}
} // namespace

CAboutSheet::CAboutSheet(const char16_t* pszCaption, QWidget* pParent, int iFirstPage,
                         const char16_t* pszTitle, const char16_t* pszDescription1,
                         const char16_t* pszDescription2, const char16_t* pszLicenseFile,
                         int iLanguageCode, const char16_t* pszLegalFile)
    : QDialog(pParent), m_title(QString::fromUtf16(pszTitle ? pszTitle : u"Zelbin")),
      m_iLanguageCode(iLanguageCode)
{
    setWindowTitle(QString::fromUtf16(pszCaption));
    setLayoutDirection(Qt::LeftToRight);
    auto* pLayout = new QVBoxLayout(this);
    m_pTabs = new QTabWidget(this);
    pLayout->addWidget(m_pTabs);

    const QString description1 = QString::fromUtf16(pszDescription1 ? pszDescription1 : u"");
    const QString description2 = QString::fromUtf16(pszDescription2 ? pszDescription2 : u"");
    if (!description1.isEmpty())
    {
        QWidget* pPage = MakeTitledPage(QStringLiteral("ABOUT_DESCRIPTION"));
        AddText(pPage, 1004, description1, 1);
        AddText(pPage, 1005, description2, 2);
        AddWarning(pPage);
        m_pTabs->addTab(Scrollable(pPage), QStringLiteral("Description"));
    }
    QString licence;
    if (ReadAboutTextFile(QString::fromUtf16(pszLicenseFile ? pszLicenseFile : u""), licence,
                          pParent))
    {
        auto* pPage = new QWidget;
        pPage->setObjectName(QStringLiteral("ABOUT_LICENSE"));
        auto* pPageLayout = new QVBoxLayout(pPage);
        auto* pText = new QPlainTextEdit(pPage);
        pText->setObjectName(QStringLiteral("1008"));
        pText->setReadOnly(true);
        // The file is wrapped for a terminal; the page wraps it again to its own width.
        pText->setPlainText(ReflowParagraphs(licence));
        pPageLayout->addWidget(pText);
        m_pTabs->addTab(pPage, QStringLiteral("License"));
    }
    QString legal;
    const bool bLegal =
        ReadAboutTextFile(QString::fromUtf16(pszLegalFile ? pszLegalFile : u""), legal, pParent);
    {
        QWidget* pPage = MakeTitledPage(QStringLiteral("ABOUT_COPYRIGHT"));
        AddText(pPage, 1006, QString::fromLatin1(RIGHTS), 1);
        auto* pText = new QPlainTextEdit(pPage);
        pText->setObjectName(QStringLiteral("1007"));
        pText->setReadOnly(true);
        pText->setPlainText(bLegal ? legal : QString::fromLatin1(LEGAL_USE));
        static_cast<QGridLayout*>(pPage->layout())->addWidget(pText, 2, 0, 1, 2);
        AddWarning(pPage);
        m_pTabs->addTab(Scrollable(pPage), QStringLiteral("Intellectual Property"));
    }
    {
        QWidget* pPage = MakeTitledPage(QStringLiteral("ABOUT_TECHSUPPORT"));
        auto* pGrid = static_cast<QGridLayout*>(pPage->layout());
        AddText(pPage, 1003, VersionLine(), 1);
        AddText(
            pPage, 1025,
            QStringLiteral("The Zelbin project: questions and reports go to its issue tracker."),
            2);
        const QString email = QString::fromUtf8(ZELBIN_SUPPORT_EMAIL);
        const QString web = QString::fromUtf8(ZELBIN_SUPPORT_URL);
        const QString phone = QString::fromUtf8(ZELBIN_SUPPORT_PHONE);
        const QString documentationPath = ExecutableDirectory() + QStringLiteral("README.md");
        const QString documentation = QStringLiteral("file://") + documentationPath;
        int row = 3;
        const auto addContact =
            [&](int labelId, const QString& label, int id, const QString& text, bool bLink)
        {
            auto* pLabel = new QLabel(label, pPage);
            pLabel->setObjectName(QString::number(labelId));
            QLabel* pValue =
                bLink ? new CStaticLink(QString(), false, true, pPage) : new QLabel(pPage);
            pValue->setText(text);
            pValue->setObjectName(QString::number(id));
            pGrid->addWidget(pLabel, row, 0);
            pGrid->addWidget(pValue, row++, 1);
        };
        if (email.isEmpty() && web.isEmpty() && phone.isEmpty())
            AddText(pPage, 1022,
                    QStringLiteral("No support contact was set when this copy was built: ask "
                                   "whoever installed it. The documentation is installed with "
                                   "the program."),
                    row++);
        if (!email.isEmpty())
            addContact(1024, QStringLiteral("E-mail:"), 1021, email, true);
        addContact(1026, QStringLiteral("Web:"), 1020, web.isEmpty() ? documentation : web, true);
        // A link that cannot be opened says why on the page, not with a beep alone.
        auto* pFailure = new QLabel(pPage);
        pFailure->setObjectName(QStringLiteral("linkFailure"));
        pFailure->setWordWrap(true);
        pFailure->setTextInteractionFlags(Qt::TextSelectableByMouse);
        pFailure->hide();
        pGrid->addWidget(pFailure, row++, 0, 1, 2);
        for (auto* pLink : pPage->findChildren<CStaticLink*>())
            connect(pLink, &CStaticLink::OpenFailed, pFailure,
                    [pFailure, documentation, documentationPath](const QString& target)
                    {
                        QString why = QStringLiteral("%1 could not be opened.").arg(target);
                        if (target == documentation && !QFileInfo::exists(documentationPath))
                            why = QStringLiteral("The documentation is not installed here: %1 "
                                                 "is missing.")
                                      .arg(documentationPath);
                        else if (target == documentation)
                            why = QStringLiteral("No program on this desktop opens the "
                                                 "documentation. It is the file %1; open it "
                                                 "with a text editor or a web browser.")
                                      .arg(documentationPath);
                        pFailure->setText(why);
                        pFailure->show();
                    });
        addContact(1027, QStringLiteral("Phone/Fax:"), 1023,
                   phone.isEmpty() ? QStringLiteral("none given") : phone, false);
        AddWarning(pPage);
        m_pTabs->addTab(Scrollable(pPage), QStringLiteral("Technical Support"));
    }
    m_pTabs->setCurrentIndex(std::clamp(iFirstPage, 0, m_pTabs->count() - 1));

    // Every tab shows whole: the sheet is as wide as its row of tabs.
    m_pTabs->setUsesScrollButtons(false);
    m_pTabs->setElideMode(Qt::ElideNone);
    m_pTabs->setMinimumWidth(m_pTabs->tabBar()->sizeHint().width() + 8);

    // OK and Help; no Cancel or Apply. Help goes to the support page.
    auto* pButtons = new QDialogButtonBox(this);
    QPushButton* pOk = pButtons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton* pHelp = pButtons->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole);
    pOk->setDefault(true);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pHelp, &QPushButton::clicked, this,
            [this] { m_pTabs->setCurrentIndex(m_pTabs->count() - 1); });
    pLayout->addWidget(pButtons);
}
