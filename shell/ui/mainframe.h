// SPDX-License-Identifier: MIT
// The main frame: menus, toolbars, status bar and the log view; the owner of the service client,
// whose events it receives; the Log, Service and Extras commands; and the orderly shutdown,
// also when another program asks for it.
#pragma once

#include "logmenu.h"
#include "requestworker.h"
#include "serviceclient.h"

#include <QEvent>
#include <QMainWindow>

#include <boost/shared_ptr.hpp>
#include <functional>
#include <map>
#include <memory>
#include <thread>

class CFilterPane;
class CFindBar;
class CHighlightScheme;
class CLogFileView;
class QTabWidget;
class CHighlightingDlg;
class CLogHighlighter;
class CReceiversToolbar;
class CZelbinView;
class CZelbinDoc;
class QAction;
class QPrinter;
class QLabel;
namespace Quenby
{
class Shutdowner;
}

// Command identifiers: each action carries its own as data.
enum ECommandID : int
{
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_DIRECT = 57608,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FILE1 = 57616, // and the three after it
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_SERVICE_START = 32771,
    ID_SERVICE_STOP = 32772,
    ID_SERVICE_INSTALL = 32773,
    ID_SERVICE_UNINSTALL = 32774,
    ID_LOG_SHOW_DEBUG = 32775,
    ID_LOG_SHOW_VERBOSE = 32776,
    ID_LOG_SHOW_PROCESSED = 32778,
    ID_LOG_SHOW_RAW = 32779,
    ID_LOG_STOP_LOGGING = 32780,
    ID_LOG_START_LOGGING = 32781,
    ID_EXTRAS_REQUIRE_LOGIN = 32782,
    ID_EXTRAS_REQUIRE_TEAM = 32783,
    ID_EXTRAS_SAMPLE_QUIZ = 32784,
    ID_EXTRAS_NETWORK_NAME = 32785,
    ID_LOG_CLEAR = 32787,
    ID_VIEW_FOLLOW = 32790, // the log view's Follow (an addition; checked by default)
    // The log tool's additions: find, filter, highlighting.
    ID_EDIT_FIND = 57636,
    ID_EDIT_REPEAT = 57640,
    ID_EDIT_FIND_PREVIOUS = 32791,
    ID_VIEW_FILTER = 32792,
    ID_VIEW_HIGHLIGHTING = 32793,
};

// The private messages, posted to the frame as events (posting is thread-safe).
inline constexpr QEvent::Type WM_ZELBIN_SHUTDOWN = static_cast<QEvent::Type>(QEvent::User + 0x0400);
inline constexpr QEvent::Type WM_ZELBIN_SERVICE = static_cast<QEvent::Type>(QEvent::User + 0x0401);

class CMainFrame : public QMainWindow, public IServiceClientEvents
{
    Q_OBJECT
public:
    // Constructs the service client, which looks for the service in the background: the window
    // never waits for the service. What the service reports (the connection, the log mask, the
    // log file's path) is applied when it arrives.
    CMainFrame();
    // Releases the shutdown listener, ends the request thread, then the service client (its
    // goodbye may take up to 10 s).
    ~CMainFrame() override;

    // Creates the window's parts in order; false when any fails (the program then ends).
    bool Create();

    QAction* Action(int iCommandID) const;
    // Applies every enable and check rule to the actions (also run before a menu shows).
    void UpdateCommandUI();
    CZelbinView* GetActiveView() const { return m_pView; }
    // The opened file in front; none while the live log is.
    CLogFileView* GetFrontFile() const;
    QTabWidget* GetTabs() const { return m_pTabs; }
    // Shows a log file in a read-only tab of its own (the one it has already, if it is open);
    // a file that cannot be shown is refused with a message.
    void OpenFile(const QString& path);
    CFindBar* GetFindBar() const { return m_pFindBar; }
    CFilterPane* GetFilterPane() const { return m_pFilterPane; }
    CZelbinDoc* GetDocument() const { return m_pDoc.get(); }
    CReceiversToolbar* GetReceiversToolbar() const { return m_pReceiversToolbar; }
    CServiceClient* GetServiceClient() const { return m_pServiceClient.get(); }
    const CLogMenu& GetLogMenu() const { return m_logMenu; }
    bool IsLogPathPending() const { return m_bLogPathPending; }

    // Where the service programs are looked for (the executable's directory; tests set another).
    void SetServiceDirectory(const std::string& directory) { m_serviceDirectory = directory; }
    // How a file name is asked for (true: to save) and how a failure is told; tests answer
    // without a person.
    void SetFileNamePrompt(std::function<QString(bool bSave)> prompt)
    {
        m_promptFileName = std::move(prompt);
    }
    void SetErrorReporter(std::function<void(const QString&)> report)
    {
        m_reportError = std::move(report);
    }
    QPrinter* GetPrinter();
    // How the Set Network Name dialog is run (tests answer it without a person).
    void SetNetworkNameDialogRunner(
        std::function<bool(QWidget*, char16_t* pszName, int iCapacity)> runner)
    {
        m_runNetworkNameDialog = std::move(runner);
    }

    // How View > Highlighting… runs its dialog (tests answer it without a person).
    void SetHighlightingDialogRunner(std::function<bool(CHighlightingDlg&)> runner)
    {
        m_runHighlightingDialog = std::move(runner);
    }
    void OnHighlighting();

    // IServiceClientEvents
    bool OnMessagesPending() override;
    void OnReceiverStatus(uint32_t iReceiverID, uint32_t iState,
                          const std::u16string& name) override;
    void OnLogUpdated() override;
    void OnConnected() override;
    void OnDisconnected() override;

    // Commands
    void OnStartLogging();
    void OnStopLogging();
    void OnToggleCategory(uint32_t iBit);
    void OnClearLog();
    void OnServiceCommand(const char* pszSwitch);
    void OnRequireLogin();
    void OnRequireTeam();
    void OnDownloadSampleQuiz();
    void OnSetNetworkName();
    void OnShutdownRequested();
    bool IsShuttingDown() const { return m_bShuttingDown; }
    // The status bar's connection pane.
    QString GetConnectionText() const;
    // Shows a line in the status bar's message pane until the next prompt.
    void ShowStatus(const QString& text);

    bool IsLoginRequired() const { return m_bRequireLogin; }
    bool IsTeamRequired() const { return m_bRequireTeam; }
    std::u16string GetNetworkName() const { return m_szNetworkName; }

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void customEvent(QEvent* pEvent) override;

private:
    void CreateMenus();
    void CreateLogTools(QMenu* pEdit, QMenu* pView);
    void ApplyHighlightRules();
    QAction* AddCommand(QMenu* pMenu, int iID, const QString& text, const QString& prompt,
                        std::function<void()> handler, QKeySequence shortcut = {});
    void RequestLogMask();
    void RequestLogFilePath();
    void OnLogFilePathArrived(bool bAnswered, const std::u16string& path);
    void OnShutdownMessage();
    // A class-wide command; the status bar says so when it cannot go out.
    void SendClassWide(const std::u16string& text);
    void OnSave();
    void OnSaveAs();
    void SaveTo(const QString& path);
    // Writes the opened file's bytes under another name, on a thread of its own.
    void SaveCopyOf(const QString& source, const QString& target);
    void OnTabChanged();
    void CloseTab(int iIndex);
    void UpdateTitle();
    void OnOpen();
    void UpdateRecentFileItems();
    void OnFollowStateChanged();
    void OnPrint();
    void OnPrintDirect();
    void OnPrintPreview();
    void OnPrintSetup();

    // In declaration order, as they are destroyed in reverse.
    QStatusBar* m_pStatusBar = nullptr;
    QToolBar* m_pToolBar = nullptr;
    CReceiversToolbar* m_pReceiversToolbar = nullptr;
    std::unique_ptr<CServiceClient> m_pServiceClient;
    bool m_bLogPathPending = true;
    CLogMenu m_logMenu;
    boost::shared_ptr<Quenby::Shutdowner> m_pShutdowner;
    bool m_bRequireLogin = false;
    bool m_bRequireTeam = false;
    uint32_t m_iSampleQuizCount = 0;
    char16_t m_szNetworkName[10] = {};

    CZelbinView* m_pView = nullptr;
    CFindBar* m_pFindBar = nullptr;
    CFilterPane* m_pFilterPane = nullptr;
    CLogHighlighter* m_pHighlighter = nullptr;
    std::shared_ptr<CHighlightScheme> m_pScheme;
    QTabWidget* m_pTabs = nullptr;
    std::thread m_saver; // a copy of an opened file being written
    std::function<bool(CHighlightingDlg&)> m_runHighlightingDialog;
    std::unique_ptr<CZelbinDoc> m_pDoc;
    std::map<int, QAction*> m_actions;
    std::string m_serviceDirectory;
    std::function<bool(QWidget*, char16_t*, int)> m_runNetworkNameDialog;
    std::unique_ptr<class QPrinter> m_pPrinter;
    QLabel* m_pConnectionPane = nullptr;
    QAction* m_pRecentSeparator = nullptr;
    std::function<QString(bool)> m_promptFileName;
    std::function<void(const QString&)> m_reportError;
    bool m_bPathRequested = false; // a path request is under way
    bool m_bStartupPending = true; // no connection reported yet
    bool m_bShuttingDown = false;
    // Requests that wait for the service run here; it ends before the service client does.
    CRequestWorker m_requests;
};
