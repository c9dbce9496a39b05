// SPDX-License-Identifier: MIT
// Application start-up.

#include "zelbinapp.h"
#include "aboutsheet.h"
#include "dialogicon.h"
#include "mainframe.h"
#include "screenfit.h"
#include "theme.h"
#include "zelbinview.h"

#include <QApplication>
#include <QSettings>
#include <QThreadPool>

QSettings Settings()
{
    return QSettings(QStringLiteral("Kivra Technologies"), QStringLiteral("Zelbin"));
}

std::u16string DocumentTemplateField(int iIndex)
{
    const std::u16string_view text = DOCUMENT_TEMPLATE;
    size_t start = 0;
    for (int i = 0; i < iIndex; ++i)
    {
        start = text.find(u'\n', start);
        if (start == std::u16string_view::npos)
            return {};
        ++start;
    }
    const size_t end = text.find(u'\n', start);
    return std::u16string(text.substr(
        start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
}

std::u16string DocumentFilter()
{
    return DocumentTemplateField(3);
}

QIcon AppIcon()
{
    return DialogIcon();
}

namespace
{
// The recent-file list as this process knows it: read from the settings once, at start, and
// written back by a thread of its own. Writing the settings file waits until the disk has it
// (it is synced), which on a busy disk takes longer than a turn of the user-interface thread may:
// opening a log would freeze the window for it.
QStringList& KnownRecentFiles()
{
    static QStringList files = []
    {
        QSettings settings = Settings();
        settings.beginGroup(QStringLiteral("Recent File List"));
        QStringList read;
        for (int i = 1; i <= RECENT_FILE_COUNT; ++i)
        {
            const QString file = settings.value(QStringLiteral("File%1").arg(i)).toString();
            if (!file.isEmpty())
                read << file;
        }
        return read;
    }();
    return files;
}

// One thread, so that the lists are written in the order they were made.
QThreadPool& SettingsWriter()
{
    static QThreadPool pool;
    static const bool bOneThread = (pool.setMaxThreadCount(1), true); // set once, not each call
    (void)bOneThread;
    return pool;
}
} // namespace

void AddRecentFile(const QString& path)
{
    QStringList& files = KnownRecentFiles();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > RECENT_FILE_COUNT)
        files.removeLast();
    SettingsWriter().start(
        [files]
        {
            QSettings settings = Settings();
            settings.beginGroup(QStringLiteral("Recent File List"));
            settings.remove(QString());
            for (int i = 0; i < files.size(); ++i)
                settings.setValue(QStringLiteral("File%1").arg(i + 1), files[i]);
        });
}

QStringList RecentFiles()
{
    return KnownRecentFiles();
}

void WaitForSettingsWritten()
{
    SettingsWriter().waitForDone();
}

void ShowAboutBox(QWidget* pParent)
{
    CAboutSheet sheet(u"About Zelbin Application.", pParent, 0, u"Zelbin",
                      u"Use this application to test the functionality of the receiver service.",
                      u"", u"License.txt");
    sheet.exec();
}

void CZelbinApp::ExitInstance()
{
    delete m_pFrame; // its destroyed signal clears m_pFrame
    m_pFrame = nullptr;
    WaitForSettingsWritten();
}

bool CZelbinApp::InitInstance(const QStringList& files)
{
    Q_INIT_RESOURCE(zelbin); // the icon lives in a static library's resources
    SetDialogIcon(QIcon(QStringLiteral(":/zelbin/zelbin.svg")));
    QApplication::setWindowIcon(AppIcon());
    QCoreApplication::setOrganizationName(QStringLiteral("Kivra Technologies"));
    QCoreApplication::setApplicationName(QString::fromStdU16String(DocumentTemplateField(0)));
    RecentFiles(); // the list is read with the settings, as the framework does at start
    ApplyTheme(LoadTheme());
    qApp->installEventFilter(new CScreenFitter(qApp)); // every dialog opens on the screen

    auto* pFrame = new CMainFrame;
    if (!pFrame->Create())
    {
        delete pFrame;
        return false;
    }
    m_pFrame = pFrame;
    QObject::connect(pFrame, &QObject::destroyed, qApp,
                     [this]
                     {
                         m_pFrame = nullptr;
                         QCoreApplication::quit();
                     });
    // The view's initial update comes with the new document, before the window shows; showing
    // it then hands the view the log file's path.
    pFrame->GetActiveView()->OnInitialUpdate();
    pFrame->RestoreGeometry();
    pFrame->show();
    for (const QString& file : files)
        pFrame->OpenFile(file);
    return true;
}
