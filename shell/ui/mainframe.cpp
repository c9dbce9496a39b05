// SPDX-License-Identifier: MIT
// The main frame.

#include "mainframe.h"
#include "catalogue.h"
#include "commandtext.h"
#include "filterpane.h"
#include "findbar.h"
#include "highlighting.h"
#include "logfileview.h"
#include "program.h"
#include "receiverstoolbar.h"
#include "servicecontrol.h"
#include "setnetworknamedlg.h"
#include "shutdowner.h"
#include "zelbinapp.h"
#include "zelbinview.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace
{
// The desktop theme's icon, or the one bundled with the program where the theme has none.
QIcon ThemeIcon(const QString& name)
{
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/zelbin/icons/%1.svg").arg(name)));
}

// A toolbar button's tip: the command's name, without its mnemonic and shortcut.
QString PlainName(QString text)
{
    text = text.section(QLatin1Char('\t'), 0, 0);
    return text.remove(QLatin1Char('&'));
}
} // namespace

CMainFrame::CMainFrame()
{
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(QStringLiteral("Untitled - Zelbin"));
    m_promptFileName = [this](bool bSave)
    {
        const QString filter = QString::fromStdU16String(DocumentFilter());
        return bSave
                   ? QFileDialog::getSaveFileName(this, QStringLiteral("Save As"),
                                                  QStringLiteral("Zelbin.log"), filter)
                   : QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(), filter);
    };
    m_reportError = [this](const QString& text)
    { QMessageBox::warning(this, QStringLiteral("Zelbin"), text); };
    setWindowIcon(AppIcon());
    m_pServiceClient = std::make_unique<CServiceClient>(CServiceClient::EStart::Background);
    m_pReceiversToolbar = new CReceiversToolbar(m_pServiceClient.get(), this);
    m_bLogPathPending = true;
    // What the service sent before this (the connection, the receiver list) waits in the
    // client's queue and comes now: the connected event asks for the log mask and the path.
    m_pServiceClient->SetEventSink(this);
    m_logMenu.iMask = 0;
    m_logMenu.bLogging = false;
    m_logMenu.bConnected = false;
    m_bRequireLogin = false;
    m_bRequireTeam = false;
    m_iSampleQuizCount = 0;
    m_serviceDirectory = GetModuleDirectory();
    m_runNetworkNameDialog = [](QWidget* pParent, char16_t* pszName, int iCapacity)
    {
        CSetNetworkNameDlg dialog(pParent, pszName, iCapacity);
        return dialog.exec() == QDialog::Accepted;
    };
}

CMainFrame::~CMainFrame()
{
    m_pShutdowner.reset();
    if (m_pServiceClient)
    {
        m_pServiceClient->SetEventSink(nullptr);
        m_pServiceClient->CancelRequests(); // a request under way returns at once
    }
    m_requests.Stop();
    m_pServiceClient.reset();
    if (m_saver.joinable())
        m_saver.join();
}

bool CMainFrame::Create()
{
    // The shutdown listener comes before any bar; without it the program does not start.
    m_pShutdowner.reset(new Quenby::Shutdowner);
    m_pShutdowner->ShutdownRequested.connect([this](boost::shared_ptr<Quenby::Shutdowner>&)
                                             { OnShutdownRequested(); });
    if (!m_pShutdowner->Start())
        return false;

    // The view with the find bar under it, and the filter pane below both.
    m_pView = new CZelbinView(this);
    m_pFindBar = new CFindBar(m_pView);
    m_pFilterPane = new CFilterPane(m_pView);
    auto* pTop = new QWidget;
    auto* pTopLayout = new QVBoxLayout(pTop);
    pTopLayout->setContentsMargins(0, 0, 0, 0);
    pTopLayout->setSpacing(0);
    // The live log and the opened files, one tab each: one window, one find bar and one filter
    // pane for all of them, and the live log always a click (or Ctrl+N) away.
    m_pTabs = new QTabWidget;
    m_pTabs->setObjectName(QStringLiteral("documents"));
    m_pTabs->setDocumentMode(true);
    m_pTabs->setTabsClosable(true);
    m_pTabs->addTab(m_pView, QStringLiteral("Live log"));
    m_pTabs->tabBar()->setTabButton(0, QTabBar::RightSide, nullptr); // the live log stays
    m_pTabs->tabBar()->setTabButton(0, QTabBar::LeftSide, nullptr);
    connect(m_pTabs, &QTabWidget::currentChanged, this, &CMainFrame::OnTabChanged);
    connect(m_pTabs, &QTabWidget::tabCloseRequested, this, &CMainFrame::CloseTab);
    pTopLayout->addWidget(m_pTabs, 1);
    pTopLayout->addWidget(m_pFindBar);
    auto* pSplitter = new QSplitter(Qt::Vertical, this);
    pSplitter->addWidget(pTop);
    pSplitter->addWidget(m_pFilterPane);
    pSplitter->setStretchFactor(0, 3);
    pSplitter->setStretchFactor(1, 1);
    setCentralWidget(pSplitter);
    m_pScheme = std::make_shared<CHighlightScheme>();
    m_pScheme->onRuleTurnedOff = [this](const QString& text) { ShowStatus(text); };
    m_pHighlighter = new CLogHighlighter(m_pView, m_pScheme);
    ApplyHighlightRules();
    m_pDoc = std::make_unique<CZelbinDoc>(m_pView);
    CreateMenus();
    UpdateRecentFileItems();

    m_pToolBar = new QToolBar(QStringLiteral("Standard"), this);
    m_pToolBar->setObjectName(QString::number(0xE800));
    for (int id : {int(ID_FILE_SAVE), 0, int(ID_EDIT_CUT), int(ID_EDIT_COPY), int(ID_EDIT_PASTE), 0,
                   int(ID_FILE_PRINT)})
    {
        if (id == 0)
            m_pToolBar->addSeparator();
        else
        {
            m_pToolBar->addAction(Action(id));
            Action(id)->setToolTip(PlainName(Action(id)->text()));
        }
    }
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, m_pToolBar);

    m_pStatusBar = new QStatusBar(this);
    m_pStatusBar->setObjectName(QString::number(0xE801));
    setStatusBar(m_pStatusBar);
    // The lock-key indicators: the toolkit cannot read the keys' state on every platform, so
    // the panes are kept, greyed, as the layout readers expect.
    for (const char* indicator : {"CAP", "NUM", "SCRL"})
    {
        auto* pLabel = new QLabel(QString::fromLatin1(indicator), m_pStatusBar);
        pLabel->setEnabled(false);
        m_pStatusBar->addPermanentWidget(pLabel);
    }
    m_pConnectionPane = new QLabel(m_pStatusBar);
    m_pConnectionPane->setObjectName(QStringLiteral("connectionPane"));
    m_pStatusBar->insertPermanentWidget(0, m_pConnectionPane);
    m_pStatusBar->showMessage(QStringLiteral("Ready"));
    // The idle prompt comes back whenever a menu prompt or another line goes away.
    connect(m_pStatusBar, &QStatusBar::messageChanged, this,
            [this](const QString& text)
            {
                if (text.isEmpty())
                    m_pStatusBar->showMessage(QStringLiteral("Ready"));
            });

    addToolBarBreak(Qt::TopToolBarArea);
    if (!m_pReceiversToolbar->Create(this))
        return false;
    addToolBar(Qt::TopToolBarArea, m_pReceiversToolbar);
    m_pReceiversToolbar->setObjectName(QString::number(0xE805));
    m_pToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    UpdateCommandUI();
    return true;
}

QAction* CMainFrame::Action(int iCommandID) const
{
    const auto it = m_actions.find(iCommandID);
    return it == m_actions.end() ? nullptr : it->second;
}

QAction* CMainFrame::AddCommand(QMenu* pMenu, int iID, const QString& text, const QString& prompt,
                                std::function<void()> handler, QKeySequence shortcut)
{
    auto* pAction = new QAction(text, this);
    pAction->setData(iID);
    pAction->setStatusTip(prompt);
    if (!shortcut.isEmpty())
        pAction->setShortcut(shortcut);
    if (handler)
        connect(pAction, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    if (pMenu)
        pMenu->addAction(pAction);
    else
        addAction(pAction); // accelerator only
    m_actions[iID] = pAction;
    return pAction;
}

// Find, the filter pane and highlighting: additions to the Edit and View menus.
void CMainFrame::CreateLogTools(QMenu* pEdit, QMenu* pView)
{
    pEdit->addSeparator();
    AddCommand(
        pEdit, ID_EDIT_FIND, QStringLiteral("&Find\u2026\tCtrl+F"),
        QStringLiteral("Find text in the log"), [this] { m_pFindBar->Open(); },
        QKeySequence(QStringLiteral("Ctrl+F")));
    // Without a pattern, F3 opens the bar to ask for one.
    const auto find = [this](bool bBackward)
    {
        if (m_pFindBar->isHidden() || m_pFindBar->GetEdit()->text().isEmpty())
            m_pFindBar->Open();
        else if (bBackward)
            m_pFindBar->FindPrevious();
        else
            m_pFindBar->FindNext();
    };
    AddCommand(
        pEdit, ID_EDIT_REPEAT, QStringLiteral("Find &Next\tF3"),
        QStringLiteral("Select the next match"), [find] { find(false); }, QKeySequence(Qt::Key_F3));
    AddCommand(
        pEdit, ID_EDIT_FIND_PREVIOUS, QStringLiteral("Find Pre&vious\tShift+F3"),
        QStringLiteral("Select the previous match"), [find] { find(true); },
        QKeySequence(Qt::SHIFT | Qt::Key_F3));

    pView->addSeparator();
    AddCommand(
        pView, ID_VIEW_FILTER, QStringLiteral("Fi&lter\tCtrl+Shift+F"),
        QStringLiteral("Show the lines that match a pattern in a pane below the log"),
        [this]
        {
            if (Action(ID_VIEW_FILTER)->isChecked())
                m_pFilterPane->Open();
            else
                m_pFilterPane->Close();
        },
        QKeySequence(QStringLiteral("Ctrl+Shift+F")))
        ->setCheckable(true);
    connect(m_pFilterPane, &CFilterPane::Closed, this,
            [this] { Action(ID_VIEW_FILTER)->setChecked(false); });
    AddCommand(pView, ID_VIEW_HIGHLIGHTING, QStringLiteral("&Highlighting\u2026"),
               QStringLiteral("Choose the colours of lines that match patterns"),
               [this] { OnHighlighting(); });
}

void CMainFrame::ApplyHighlightRules()
{
    QSettings settings = Settings();
    QString ignored;
    m_pScheme->SetRules(LoadHighlightRules(settings, &ignored), m_pView->palette());
    m_pHighlighter->rehighlight();
    for (int i = 1; m_pTabs && i < m_pTabs->count(); ++i)
        m_pTabs->widget(i)->update();
    // Said once the status bar is there (the rules are read while the window is built).
    if (!ignored.isEmpty())
        QTimer::singleShot(0, this, [this, ignored] { ShowStatus(ignored); });
}

void CMainFrame::OnHighlighting()
{
    QSettings settings = Settings();
    CHighlightingDlg dialog(LoadHighlightRules(settings), this);
    const bool bAccepted = m_runHighlightingDialog ? m_runHighlightingDialog(dialog)
                                                   : dialog.exec() == QDialog::Accepted;
    if (!bAccepted)
        return;
    SaveHighlightRules(settings, dialog.GetRules());
    ApplyHighlightRules();
}

// A new theme brings new palette colours: the rules' colours follow it.
void CMainFrame::changeEvent(QEvent* pEvent)
{
    QMainWindow::changeEvent(pEvent);
    if (pEvent->type() == QEvent::PaletteChange && m_pHighlighter)
        ApplyHighlightRules();
}

void CMainFrame::CreateMenus()
{
    QMenu* pFile = menuBar()->addMenu(QStringLiteral("&File"));
    AddCommand(pFile, ID_FILE_SAVE_AS, QStringLiteral("Save &As..."),
               QStringLiteral("Save the log with a new name"), [this] { OnSaveAs(); });
    pFile->addSeparator();
    AddCommand(
        pFile, ID_FILE_PRINT, QStringLiteral("&Print...\tCtrl+P"), QStringLiteral("Print the log"),
        [this] { OnPrint(); }, QKeySequence(QStringLiteral("Ctrl+P")))
        ->setIcon(ThemeIcon(QStringLiteral("document-print")));
    AddCommand(pFile, ID_FILE_PRINT_PREVIEW, QStringLiteral("Print Pre&view"),
               QStringLiteral("Display the log as it will be printed"),
               [this] { OnPrintPreview(); });
    AddCommand(pFile, ID_FILE_PRINT_SETUP, QStringLiteral("P&rint Setup..."),
               QStringLiteral("Change the printer and printing options"),
               [this] { OnPrintSetup(); });
    pFile->addSeparator();
    for (int i = 0; i < RECENT_FILE_COUNT; ++i)
        AddCommand(pFile, ID_FILE_MRU_FILE1 + i, QString(), QStringLiteral("Open this log"),
                   [this, i]
                   {
                       const QStringList files = RecentFiles();
                       if (i < files.size())
                           OpenFile(files[i]);
                   });
    m_pRecentSeparator = pFile->addSeparator();
    AddCommand(pFile, ID_APP_EXIT, QStringLiteral("E&xit"), QStringLiteral("Quit the application"),
               [this] { close(); });
    connect(pFile, &QMenu::aboutToShow, this, &CMainFrame::UpdateRecentFileItems);

    QMenu* pEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    AddCommand(
        pEdit, ID_EDIT_UNDO, QStringLiteral("&Undo\tCtrl+Z"),
        QStringLiteral("Undo the last action"), [this] { m_pView->undo(); },
        QKeySequence(QStringLiteral("Ctrl+Z")));
    pEdit->addSeparator();
    AddCommand(
        pEdit, ID_EDIT_CUT, QStringLiteral("Cu&t\tCtrl+X"),
        QStringLiteral("Cut the selection and put it on the Clipboard"),
        [this]
        {
            if (!GetFrontFile())
                m_pView->cut();
        },
        QKeySequence(QStringLiteral("Ctrl+X")))
        ->setIcon(ThemeIcon(QStringLiteral("edit-cut")));
    AddCommand(
        pEdit, ID_EDIT_COPY, QStringLiteral("&Copy\tCtrl+C"),
        QStringLiteral("Copy the selection and put it on the Clipboard"),
        [this]
        {
            if (CLogFileView* pFile = GetFrontFile())
                pFile->Copy();
            else
                m_pView->copy();
        },
        QKeySequence(QStringLiteral("Ctrl+C")))
        ->setIcon(ThemeIcon(QStringLiteral("edit-copy")));
    AddCommand(
        pEdit, ID_EDIT_PASTE, QStringLiteral("&Paste\tCtrl+V"),
        QStringLiteral("Insert Clipboard contents"),
        [this]
        {
            if (!GetFrontFile())
                m_pView->paste();
        },
        QKeySequence(QStringLiteral("Ctrl+V")))
        ->setIcon(ThemeIcon(QStringLiteral("edit-paste")));

    QMenu* pView = menuBar()->addMenu(QStringLiteral("&View"));
    AddCommand(pView, ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"),
               QStringLiteral("Show or hide the toolbar"),
               [this]
               {
                   m_pToolBar->setVisible(!m_pToolBar->isVisible());
                   UpdateCommandUI();
               })
        ->setCheckable(true);
    AddCommand(pView, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"),
               QStringLiteral("Show or hide the status bar"),
               [this]
               {
                   m_pStatusBar->setVisible(!m_pStatusBar->isVisible());
                   UpdateCommandUI();
               })
        ->setCheckable(true);

    AddCommand(pView, ID_VIEW_FOLLOW, QStringLiteral("&Follow Log"),
               QStringLiteral("Keep the end of the log in view as it grows"),
               [this] { m_pView->SetFollow(Action(ID_VIEW_FOLLOW)->isChecked()); })
        ->setCheckable(true);
    Action(ID_VIEW_FOLLOW)->setChecked(true);
    connect(m_pView, &CZelbinView::FollowStateChanged, this, &CMainFrame::OnFollowStateChanged);
    connect(m_pView, &CZelbinView::ReadingProgress, this,
            [this](int iPercent)
            {
                if (iPercent < 100)
                    ShowStatus(QStringLiteral("Reading the log\u2026 %1 %").arg(iPercent));
                else if (m_pStatusBar)
                    m_pStatusBar->clearMessage();
            });
    CreateLogTools(pEdit, pView);

    QMenu* pLog = menuBar()->addMenu(QStringLiteral("Log"));
    AddCommand(pLog, ID_LOG_START_LOGGING, QStringLiteral("Start Logging"),
               QStringLiteral("Tell the service to log the chosen categories"),
               [this] { OnStartLogging(); });
    AddCommand(pLog, ID_LOG_STOP_LOGGING, QStringLiteral("Stop Logging"),
               QStringLiteral("Tell the service to stop logging"), [this] { OnStopLogging(); });
    pLog->addSeparator();
    const struct
    {
        int id;
        const char* text;
        uint32_t bit;
    } categories[] = {{ID_LOG_SHOW_DEBUG, "Show Debug", LOG_DEBUG},
                      {ID_LOG_SHOW_VERBOSE, "Show Verbose", LOG_VERBOSE},
                      {ID_LOG_SHOW_PROCESSED, "Show Processed Data", LOG_PROCESSED},
                      {ID_LOG_SHOW_RAW, "Show Raw Data", LOG_RAW}};
    for (const auto& c : categories)
        AddCommand(pLog, c.id, QString::fromLatin1(c.text),
                   QStringLiteral("Show or hide this category in the log"),
                   [this, bit = c.bit] { OnToggleCategory(bit); })
            ->setCheckable(true);
    pLog->addSeparator();
    AddCommand(pLog, ID_LOG_CLEAR, QStringLiteral("Clear Log"),
               QStringLiteral("Tell the service to clear its log"), [this] { OnClearLog(); });

    QMenu* pService = menuBar()->addMenu(QStringLiteral("Service"));
    AddCommand(pService, ID_SERVICE_START, QStringLiteral("Start"),
               QStringLiteral("Start the receiver services"),
               [this] { OnServiceCommand("-start"); });
    AddCommand(pService, ID_SERVICE_STOP, QStringLiteral("Stop"),
               QStringLiteral("Stop the receiver services"), [this] { OnServiceCommand("-stop"); });
    AddCommand(pService, ID_SERVICE_INSTALL, QStringLiteral("Install"),
               QStringLiteral("Install the receiver services"), [this] { OnServiceCommand("-i"); });
    AddCommand(pService, ID_SERVICE_UNINSTALL, QStringLiteral("Uninstall"),
               QStringLiteral("Uninstall the receiver services"),
               [this] { OnServiceCommand("-u"); });

    QMenu* pHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    AddCommand(pHelp, ID_APP_ABOUT, QStringLiteral("&About Zelbin..."),
               QStringLiteral("Display program information, version number and copyright"),
               [this] { ShowAboutBox(this); });

    QMenu* pExtras = menuBar()->addMenu(QStringLiteral("Extras"));
    AddCommand(pExtras, ID_EXTRAS_REQUIRE_LOGIN, QStringLiteral("Require Login"),
               QStringLiteral("Tell the receivers whether students must log in"),
               [this] { OnRequireLogin(); })
        ->setCheckable(true);
    AddCommand(pExtras, ID_EXTRAS_REQUIRE_TEAM, QStringLiteral("Require Team"),
               QStringLiteral("Tell the receivers whether students must join a team"),
               [this] { OnRequireTeam(); })
        ->setCheckable(true);
    AddCommand(pExtras, ID_EXTRAS_SAMPLE_QUIZ, QStringLiteral("Download Sample Quiz"),
               QStringLiteral("Send a sample quiz to the receivers"),
               [this] { OnDownloadSampleQuiz(); });
    AddCommand(pExtras, ID_EXTRAS_NETWORK_NAME, QStringLiteral("Set Network Name..."),
               QStringLiteral("Set the class network name"), [this] { OnSetNetworkName(); });

    // Accelerators without menu items.
    AddCommand(
        nullptr, ID_FILE_NEW, QStringLiteral("New"), QStringLiteral("Start an empty log"),
        [this]
        {
            m_pDoc->New();
            m_pView->OnInitialUpdate();
            m_pTabs->setCurrentIndex(0); // the live log comes forward
            UpdateTitle();
        },
        QKeySequence(QStringLiteral("Ctrl+N")));
    AddCommand(nullptr, ID_FILE_PRINT_DIRECT, QStringLiteral("Print Direct"),
               QStringLiteral("Print the log without asking"), [this] { OnPrintDirect(); });
    AddCommand(
        nullptr, ID_FILE_OPEN, QStringLiteral("Open"), QStringLiteral("Open a saved log"),
        [this] { OnOpen(); }, QKeySequence(QStringLiteral("Ctrl+O")));
    AddCommand(
        nullptr, ID_FILE_SAVE, QStringLiteral("Save"), QStringLiteral("Save the log"),
        [this] { OnSave(); }, QKeySequence(QStringLiteral("Ctrl+S")))
        ->setIcon(ThemeIcon(QStringLiteral("document-save")));
    Action(ID_EDIT_UNDO)
        ->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Z")),
                        QKeySequence(QStringLiteral("Alt+Backspace"))});
    Action(ID_EDIT_CUT)
        ->setShortcuts(
            {QKeySequence(QStringLiteral("Ctrl+X")), QKeySequence(QStringLiteral("Shift+Del"))});
    Action(ID_EDIT_COPY)
        ->setShortcuts(
            {QKeySequence(QStringLiteral("Ctrl+C")), QKeySequence(QStringLiteral("Ctrl+Ins"))});
    Action(ID_EDIT_PASTE)
        ->setShortcuts(
            {QKeySequence(QStringLiteral("Ctrl+V")), QKeySequence(QStringLiteral("Shift+Ins"))});
    AddCommand(
        nullptr, ID_NEXT_PANE, QStringLiteral("Next Pane"),
        QStringLiteral("Switch to the next window pane"), [this] { focusNextChild(); },
        QKeySequence(QStringLiteral("F6")));
    AddCommand(
        nullptr, ID_PREV_PANE, QStringLiteral("Previous Pane"),
        QStringLiteral("Switch back to the previous window pane"), [this] { focusPreviousChild(); },
        QKeySequence(QStringLiteral("Shift+F6")));

    for (QMenu* pMenu : {pFile, pEdit, pView, pLog, pService, pHelp, pExtras})
        connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    connect(m_pView, &QPlainTextEdit::copyAvailable, this, &CMainFrame::UpdateCommandUI);
    connect(m_pView, &QPlainTextEdit::undoAvailable, this, &CMainFrame::UpdateCommandUI);
}

void CMainFrame::UpdateCommandUI()
{
    if (m_pConnectionPane)
        m_pConnectionPane->setText(m_logMenu.bConnected
                                       ? QStringLiteral("Connected to the receiver service")
                                       : QStringLiteral("Looking for the receiver service\u2026"));
    if (m_actions.empty())
        return;
    Action(ID_LOG_START_LOGGING)->setEnabled(m_logMenu.IsStartLoggingEnabled());
    Action(ID_LOG_STOP_LOGGING)->setEnabled(m_logMenu.IsStopLoggingEnabled());
    const std::pair<int, uint32_t> categories[] = {{ID_LOG_SHOW_DEBUG, LOG_DEBUG},
                                                   {ID_LOG_SHOW_VERBOSE, LOG_VERBOSE},
                                                   {ID_LOG_SHOW_PROCESSED, LOG_PROCESSED},
                                                   {ID_LOG_SHOW_RAW, LOG_RAW}};
    for (const auto& [id, bit] : categories)
    {
        Action(id)->setEnabled(m_logMenu.IsCategoryEnabled());
        Action(id)->setChecked(m_logMenu.IsCategoryChecked(bit));
    }
    Action(ID_EXTRAS_REQUIRE_LOGIN)->setChecked(m_bRequireLogin);
    Action(ID_EXTRAS_REQUIRE_TEAM)->setChecked(m_bRequireTeam);
    if (m_pToolBar)
        Action(ID_VIEW_TOOLBAR)->setChecked(!m_pToolBar->isHidden());
    if (m_pStatusBar)
        Action(ID_VIEW_STATUS_BAR)->setChecked(!m_pStatusBar->isHidden());
    // An opened file is read-only: it can be copied from, not edited or printed.
    const CLogFileView* pFile = GetFrontFile();
    const bool bSelection =
        pFile ? pFile->HasSelection() : m_pView && m_pView->textCursor().hasSelection();
    Action(ID_EDIT_CUT)->setEnabled(bSelection && !pFile);
    Action(ID_EDIT_COPY)->setEnabled(bSelection);
    Action(ID_EDIT_PASTE)->setEnabled(!pFile);
    Action(ID_EDIT_UNDO)->setEnabled(!pFile && m_pView && m_pView->document()->isUndoAvailable());
    for (const int id : {ID_FILE_PRINT, ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_DIRECT})
        Action(id)->setEnabled(!pFile);
}

// --- service events ----------------------------------------------------------------------------

bool CMainFrame::OnMessagesPending()
{
    QCoreApplication::postEvent(this, new QEvent(WM_ZELBIN_SERVICE));
    return true;
}

void CMainFrame::customEvent(QEvent* pEvent)
{
    if (pEvent->type() == WM_ZELBIN_SERVICE && m_pServiceClient && !m_bShuttingDown)
        m_pServiceClient->ProcessMessages(-1);
    else if (pEvent->type() == WM_ZELBIN_SHUTDOWN)
        OnShutdownMessage();
}

// No close handler, nothing asked. A modal dialog, a print preview or the payload test's run
// may be open, each on the stack of an event loop of its own, with the frame below it: every
// loop is left first, and the application destroys the frame once control is back where its
// main loop was started.
void CMainFrame::OnShutdownMessage()
{
    if (m_bShuttingDown)
        return;
    m_bShuttingDown = true;
    hide();
    QCoreApplication::exit(0);
}

void CMainFrame::OnReceiverStatus(uint32_t iReceiverID, uint32_t iState, const std::u16string& name)
{
    m_pReceiversToolbar->SetReceiverEntry(iReceiverID, iState, name);
}

void CMainFrame::RequestLogMask()
{
    CServiceClient* pClient = m_pServiceClient.get();
    m_requests.Post(
        [this, pClient]
        {
            const uint32_t iMask = pClient->GetLogMask(); // 0 when no answer comes
            QMetaObject::invokeMethod(
                this,
                [this, iMask]
                {
                    m_logMenu.OnMaskArrived(iMask);
                    UpdateCommandUI();
                },
                Qt::QueuedConnection);
        });
}

// One path request at a time; what arrives goes to the view, which ignores a path it follows
// already and follows a new one (a restarted service may log elsewhere).
void CMainFrame::RequestLogFilePath()
{
    if (m_bPathRequested)
        return;
    m_bPathRequested = true;
    CServiceClient* pClient = m_pServiceClient.get();
    m_requests.Post(
        [this, pClient]
        {
            std::u16string path;
            const bool bAnswered = pClient->GetLogFilePath(path);
            QMetaObject::invokeMethod(
                this, [this, bAnswered, path] { OnLogFilePathArrived(bAnswered, path); },
                Qt::QueuedConnection);
        });
}

void CMainFrame::OnLogFilePathArrived(bool bAnswered, const std::u16string& path)
{
    m_bPathRequested = false;
    if (!bAnswered || !m_pView)
        return; // still pending: asked again at the next notice
    m_pView->SetLogFile(path);
    m_bLogPathPending = false;
    if (!m_pView->IsLogFileOpen() && !m_pView->GetLogError().isEmpty())
        ShowStatus(QStringLiteral("The service's log is not shown: ") + m_pView->GetLogError());
}

void CMainFrame::OnLogUpdated()
{
    if (m_bLogPathPending)
        RequestLogFilePath();
    if (!m_pView)
        return;
    m_pView->ReadNewLogData();
    // The followed file was rotated away or deleted: the service may log elsewhere now.
    if (m_pView->IsFollowingAStaleFile())
        RequestLogFilePath();
}

void CMainFrame::OnConnected()
{
    // The connection made at start decides logging with its first mask, as if the window had
    // asked while being built; later connections only read the mask anew.
    if (m_bStartupPending)
        m_logMenu.bMaskDecidesLogging = m_pServiceClient->WasConnectedAtStart();
    m_bStartupPending = false;
    m_logMenu.bConnected = true;
    RequestLogMask();
    // The service may log to another file after a restart: its path is asked for again.
    RequestLogFilePath();
    UpdateCommandUI();
}

void CMainFrame::OnDisconnected()
{
    m_logMenu.bConnected = false;
    m_pReceiversToolbar->ClearReceivers();
    UpdateCommandUI();
}

void CMainFrame::showEvent(QShowEvent* pEvent)
{
    QMainWindow::showEvent(pEvent);
    if (m_bLogPathPending)
        RequestLogFilePath();
}

QString CMainFrame::GetConnectionText() const
{
    return m_pConnectionPane ? m_pConnectionPane->text() : QString();
}

void CMainFrame::ShowStatus(const QString& text)
{
    if (m_pStatusBar)
        m_pStatusBar->showMessage(text);
}

// --- commands ----------------------------------------------------------------------------------

void CMainFrame::OnStartLogging()
{
    m_pServiceClient->SetLogMask(m_logMenu.StartLogging());
    UpdateCommandUI();
}

void CMainFrame::OnStopLogging()
{
    m_pServiceClient->SetLogMask(m_logMenu.StopLogging());
    UpdateCommandUI();
}

void CMainFrame::OnToggleCategory(uint32_t iBit)
{
    m_pServiceClient->SetLogMask(m_logMenu.ToggleCategory(iBit));
    UpdateCommandUI();
}

void CMainFrame::OnClearLog()
{
    m_pServiceClient->ClearLog();
}

void CMainFrame::OnServiceCommand(const char* pszSwitch)
{
    RunServiceCommands(m_serviceDirectory, pszSwitch);
}

void CMainFrame::SendClassWide(const std::u16string& text)
{
    // Sent in any case (a command while disconnected goes nowhere), but not silently.
    if (!m_pServiceClient->IsConnected())
        ShowStatus(QStringLiteral("Not sent: the receiver service is not connected"));
    m_pServiceClient->SendReceiverCommand(0, text);
}

void CMainFrame::OnRequireLogin()
{
    m_bRequireLogin = !m_bRequireLogin;
    SendClassWide(LoginRequirementText(m_bRequireTeam, m_bRequireLogin));
    UpdateCommandUI();
}

void CMainFrame::OnRequireTeam()
{
    m_bRequireTeam = !m_bRequireTeam;
    SendClassWide(LoginRequirementText(m_bRequireTeam, m_bRequireLogin));
    UpdateCommandUI();
}

void CMainFrame::OnDownloadSampleQuiz()
{
    ++m_iSampleQuizCount;
    SendClassWide(SampleQuizText(m_iSampleQuizCount));
}

void CMainFrame::OnSetNetworkName()
{
    m_szNetworkName[8] = 0;
    if (!m_runNetworkNameDialog(this, m_szNetworkName, 9) || m_bShuttingDown)
        return;
    SendClassWide(NetworkNameText(m_szNetworkName));
}

void CMainFrame::OnShutdownRequested()
{
    QCoreApplication::postEvent(this, new QEvent(WM_ZELBIN_SHUTDOWN));
}

void CMainFrame::closeEvent(QCloseEvent* pEvent)
{
    // Closing never asks to save the log.
    if (m_pDoc)
        m_pDoc->SetModifiedFlag(false);
    pEvent->accept();
    deleteLater();
}

// Save writes to the name the text has; without one it asks, as Save As always does.
void CMainFrame::OnSave()
{
    // An opened file is never written: what is shown is the file.
    if (const CLogFileView* pFile = GetFrontFile())
        ShowStatus(QStringLiteral("\"%1\" is shown as it is on disk; Save As writes a copy")
                       .arg(QFileInfo(pFile->GetPath()).fileName()));
    else if (m_pDoc->GetPathName().isEmpty())
        OnSaveAs();
    else
        SaveTo(m_pDoc->GetPathName());
}

void CMainFrame::OnSaveAs()
{
    const QString path = m_promptFileName(true);
    if (path.isEmpty())
        return;
    QString target = path;
    if (!target.endsWith(QStringLiteral(".log"), Qt::CaseInsensitive))
        target += QStringLiteral(".log");
    if (const CLogFileView* pFile = GetFrontFile())
        SaveCopyOf(pFile->GetPath(), target);
    else
        SaveTo(target);
}

void CMainFrame::SaveCopyOf(const QString& source, const QString& target)
{
    if (QFileInfo(source).canonicalFilePath() == QFileInfo(target).canonicalFilePath())
    {
        ShowStatus(
            QStringLiteral("\"%1\" is that file already").arg(QDir::toNativeSeparators(target)));
        return;
    }
    if (m_saver.joinable())
        m_saver.join();
    ShowStatus(
        QStringLiteral("Saving a copy as \"%1\"\u2026").arg(QDir::toNativeSeparators(target)));
    m_saver = std::thread(
        [this, source, target]
        {
            // Written beside the target and renamed over it at the end, as Save does.
            QFile in(source);
            QSaveFile out(target);
            bool bSaved = in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly);
            QByteArray piece;
            while (bSaved && !(piece = in.read(1024 * 1024)).isEmpty())
                bSaved = out.write(piece) == piece.size();
            bSaved = bSaved && in.error() == QFileDevice::NoError && out.commit();
            const QString error =
                in.error() != QFileDevice::NoError ? in.errorString() : out.errorString();
            QMetaObject::invokeMethod(
                this,
                [this, bSaved, target, error]
                {
                    if (bSaved)
                        ShowStatus(QStringLiteral("Saved a copy as \"%1\"")
                                       .arg(QDir::toNativeSeparators(target)));
                    else
                        m_reportError(QStringLiteral("The log could not be saved as \"%1\".\n\n%2")
                                          .arg(QDir::toNativeSeparators(target), error));
                },
                Qt::QueuedConnection);
        });
}

void CMainFrame::SaveTo(const QString& path)
{
    QString error;
    if (!m_pDoc->Save(path, &error))
    {
        m_reportError(QStringLiteral("The log could not be saved as \"%1\".\n\n%2")
                          .arg(QDir::toNativeSeparators(path), error));
        return;
    }
    AddRecentFile(path);
    UpdateTitle();
}

void CMainFrame::OpenFile(const QString& path)
{
    if (path.isEmpty())
        return;
    for (int i = 1; i < m_pTabs->count(); ++i)
        if (static_cast<CLogFileView*>(m_pTabs->widget(i))->GetPath() == path)
        {
            m_pTabs->setCurrentIndex(i);
            return;
        }
    auto* pFile = new CLogFileView(m_pScheme);
    if (!pFile->Open(path))
    {
        m_reportError(QStringLiteral("The file \"%1\" could not be opened: %2")
                          .arg(QDir::toNativeSeparators(path), pFile->GetError()));
        delete pFile;
        return;
    }
    connect(pFile, &CLogFileView::Notice, this, &CMainFrame::ShowStatus);
    connect(pFile, &CLogFileView::SelectionChanged, this, &CMainFrame::UpdateCommandUI);
    const int i = m_pTabs->addTab(pFile, QFileInfo(path).fileName());
    m_pTabs->setTabToolTip(i, QDir::toNativeSeparators(path));
    m_pTabs->setCurrentIndex(i);
    AddRecentFile(path);
}

CLogFileView* CMainFrame::GetFrontFile() const
{
    return m_pTabs && m_pTabs->currentIndex() > 0
               ? static_cast<CLogFileView*>(m_pTabs->currentWidget())
               : nullptr;
}

void CMainFrame::OnTabChanged()
{
    CLogFileView* pFile = GetFrontFile();
    CSearchTarget* pTarget =
        pFile ? static_cast<CSearchTarget*>(pFile->GetSearchTarget()) : m_pView->GetSearchTarget();
    m_pFindBar->SetTarget(pTarget);
    m_pFilterPane->SetTarget(pTarget);
    UpdateTitle();
    UpdateCommandUI();
}

void CMainFrame::CloseTab(int iIndex)
{
    if (iIndex <= 0)
        return; // the live log stays
    QWidget* pFile = m_pTabs->widget(iIndex);
    m_pTabs->removeTab(iIndex);
    delete pFile; // its index and searches end with it
}

// The title names the document in front.
void CMainFrame::UpdateTitle()
{
    if (const CLogFileView* pFile = GetFrontFile())
        setWindowTitle(QFileInfo(pFile->GetPath()).fileName() +
                       QStringLiteral(" (read-only) - Zelbin"));
    else
        setWindowTitle(m_pDoc->GetWindowTitle());
}

void CMainFrame::OnOpen()
{
    OpenFile(m_promptFileName(false));
}

QPrinter* CMainFrame::GetPrinter()
{
    if (!m_pPrinter)
        m_pPrinter = std::make_unique<QPrinter>();
    return m_pPrinter.get();
}

void CMainFrame::OnPrint()
{
    QPrintDialog dialog(GetPrinter(), this);
    if (dialog.exec() == QDialog::Accepted && !m_bShuttingDown)
        m_pView->PrintWrapped(GetPrinter());
}

// Straight to the printer as it is set up, without the print dialog.
void CMainFrame::OnPrintDirect()
{
    m_pView->PrintWrapped(GetPrinter());
}

void CMainFrame::OnPrintPreview()
{
    QPrintPreviewDialog preview(GetPrinter(), this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* p) { m_pView->PrintWrapped(p); });
    preview.exec();
}

// While the view is paused, the status bar counts what came meanwhile.
void CMainFrame::OnFollowStateChanged()
{
    Action(ID_VIEW_FOLLOW)->setChecked(m_pView->IsFollowing()); // paused shows unticked
    const int iNew = m_pView->GetNewLinesWhilePaused();
    if (!m_pView->IsFollowing() && iNew > 0)
        ShowStatus(
            QStringLiteral("%1 new line%2, End to follow").arg(iNew).arg(iNew == 1 ? "" : "s"));
    else if (m_pView->IsFollowing() && m_pStatusBar)
        m_pStatusBar->clearMessage(); // "Ready" comes back
}

// The File menu lists the recent files (at most four) above Exit, numbered as the framework does.
void CMainFrame::UpdateRecentFileItems()
{
    const QStringList files = RecentFiles();
    for (int i = 0; i < RECENT_FILE_COUNT; ++i)
    {
        QAction* pAction = Action(ID_FILE_MRU_FILE1 + i);
        if (!pAction)
            continue;
        const bool bShown = i < files.size();
        pAction->setVisible(bShown);
        if (bShown)
        {
            pAction->setText(
                QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(files[i])));
            pAction->setData(ID_FILE_MRU_FILE1 + i);
        }
    }
    if (m_pRecentSeparator)
        m_pRecentSeparator->setVisible(!files.isEmpty());
}

void CMainFrame::OnPrintSetup()
{
    QPageSetupDialog dialog(GetPrinter(), this);
    dialog.exec();
}
