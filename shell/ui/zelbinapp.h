// SPDX-License-Identifier: MIT
// The application: start-up in order, the settings key, the document template, the application
// icon that the dialogs share, and the About command.
#pragma once

#include <QIcon>
#include <QSettings>
#include <QString>
#include <string>

class CMainFrame;
class QWidget;

// Fields of the document template string, separated by line feeds: window title, document name,
// new-file name, filter, extension, file type identifier, file type name.
inline constexpr const char16_t* DOCUMENT_TEMPLATE =
    u"Zelbin\n\nZelbin\nZelbin Files (*.log)\n.log\nZelbin.Document\nZelbin.Document";
std::u16string DocumentTemplateField(int iIndex);
std::u16string DocumentFilter();

// The application icon, loaded once at start-up.
QIcon AppIcon();
// The recent-file list (4 entries) under the "Kivra Technologies" settings key.
inline constexpr int RECENT_FILE_COUNT = 4;
// Zelbin's settings: the recent files, the highlight rules.
QSettings Settings();
void AddRecentFile(const QString& path);
QStringList RecentFiles();
// Returns once every change made so far is in the settings file (at exit, and for tests).
void WaitForSettingsWritten();
// The About sheet, modal.
void ShowAboutBox(QWidget* pParent);

class CZelbinApp
{
public:
    // Start-up: icon, settings, document template, the frame with its view, shown, and the log
    // files named on the command line opened. False when the frame cannot be created; the
    // program then ends.
    bool InitInstance(const QStringList& files = {});
    // After the main loop: destroys the frame if a shutdown request left it (a closed window
    // has destroyed itself already).
    void ExitInstance();
    CMainFrame* GetMainFrame() const { return m_pFrame; }

private:
    CMainFrame* m_pFrame = nullptr;
};
