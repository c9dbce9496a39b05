// SPDX-License-Identifier: MIT
// The log view: the service's log file shown as it grows, in an editable plain-text control
// whose length is limited like an edit control's; and the document around it, which holds only
// the modified flag and saves, loads and prints the view's text.
#pragma once

#include "logreader.h"
#include "logsearch.h"

#include <QKeySequence>
#include <QPlainTextEdit>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

class QPrinter;
class QTextDocument;
class CZelbinView;

// The live log's view as find and filter see it: its lines are the control's blocks. A search
// reads a copy of the lines from the first changed one on.
class CLiveSearchTarget : public CSearchTarget
{
    Q_OBJECT
public:
    explicit CLiveSearchTarget(CZelbinView* pView);
    std::shared_ptr<const ILineSource> GetLines(int64_t iFirstLine, int64_t& iFrom,
                                                int64_t& iEnd) override;
    QString GetLineText(int64_t iLine) const override;
    void SetFindPattern(const CLogPattern& pattern) override;
    int64_t GetCurrentLine() const override;
    int SelectMatchIn(int64_t iLine, const CLogPattern& pattern, bool bBackward,
                      bool bAnywhere) override;
    int GetSelectedMatch(const CLogPattern& pattern, int64_t& iLine) const override;
    void GoToLine(int64_t iLine) override;
    QString GetSelectionOnOneLine() const override;
    QWidget* GetWidget() const override;

private:
    void OnContentsChange(int iPosition, int iRemoved, int iAdded);

    CZelbinView* m_pView;
    int m_iChangedFrom = -1; // the first line changed since the last report
    QTimer* m_pReport;
};

class CZelbinView : public QPlainTextEdit, public ILogTextTarget
{
    Q_OBJECT
public:
    static constexpr size_t DEFAULT_TEXT_LIMIT = 0xFFFFF;
    static constexpr size_t RAISED_TEXT_LIMIT = 0x4FFFFF;

    // A notice that brings more than this is read on a thread of its own, and its text is put
    // into the control in pieces: the window stays responsive while a large log opens.
    static constexpr uint64_t BACKGROUND_READ_BYTES = 1024 * 1024;
    static constexpr int INSERT_PIECE_CHARS = 64 * 1024;

    explicit CZelbinView(QWidget* pParent = nullptr);
    ~CZelbinView() override;

    // The frame hands the path over once; a path equal to the current one changes nothing.
    void SetLogFile(const std::u16string& path);
    void ReadNewLogData();
    // Runs when the view is first shown with its document: raises the text limit, reopens the
    // log file and reads it.
    void OnInitialUpdate();
    // While a large read runs, the file counts as open and not stale; its notices wait for it.
    bool IsLogFileOpen() const { return m_bReading || m_follower.IsLogFileOpen(); }
    bool IsFollowingAStaleFile() const { return !m_bReading && m_follower.IsFollowingAStaleFile(); }
    // Why the service's log file is not shown; empty when it is.
    QString GetLogError() const;
    bool IsReading() const { return m_bReading; }
    // A copy of the text for the printer, wrapped at the page's width: the screen shows long
    // lines unwrapped, paper cannot.
    std::unique_ptr<QTextDocument> CreatePrintDocument() const;
    void PrintWrapped(QPrinter* pPrinter) const;
    void SetTextLimit(size_t iLimit) { m_iTextLimit = iLimit; }

    // Follow (the default): each notice puts the caret at the end. The view pauses when the user
    // scrolls up, moves the caret away from the end or selects text, or when Follow is turned
    // off: new text is still appended, but the caret, the selection and the scroll position stay
    // where the user left them. Ctrl+End, or turning Follow on, follows again.
    void SetFollow(bool bFollow);
    bool IsFollowing() const { return m_bFollow && !m_bPaused; }
    void ResumeFollowing();
    // The key that follows again (Ctrl+End where that is the platform's end of document).
    static constexpr QKeySequence::StandardKey FOLLOW_KEY = QKeySequence::MoveToEndOfDocument;
    static QKeySequence FollowKey();
    // Lines appended since the view paused.
    int GetNewLinesWhilePaused() const { return m_iNewLines; }

    // The find bar's pattern: its matches in view are highlighted as they are painted, so the
    // highlights are right whatever the text became since.
    void SetFindPattern(const CLogPattern& pattern);
    CLiveSearchTarget* GetSearchTarget() { return &m_searchTarget; }
    // Puts the caret at the start of the line (from 0) and scrolls it into the middle.
    void GoToLine(int iLine);

    // ILogTextTarget, counted in characters as the control holds them.
    size_t GetTextLength() override;
    size_t GetTextLimit() override { return m_iTextLimit; }
    void MoveCaretToEnd() override;
    void Empty() override;
    void Insert(const std::u16string& batch) override;
    void ReplaceAll(const std::u16string& batch) override;

signals:
    // Following stopped or started again, or lines came while paused.
    void FollowStateChanged();
    // A large read's progress in percent; 100 when its text is all shown.
    void ReadingProgress(int iPercent);

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void StartBackgroundRead();
    void OnBackgroundReadDone(unsigned iGeneration, bool bRead, bool bEmptied, QString text);
    void InsertNextPiece(unsigned iGeneration);
    // Stops a large read and drops what it has not shown yet.
    void StopBackgroundRead();
    // At iAt, or at the end when it is negative.
    void InsertText(const QString& text, int iAt = -1);
    void Pause();
    void ScrollToEnd();
    void ForgetNewLines();
    // The user scrolled: following pauses unless the end is still in view.
    void PauseIfScrolledUp();
    // Changes the view makes itself, which must not read as the user's.
    class CGuard;

    CLogFollower m_follower;
    CLogPattern m_findPattern;
    CLiveSearchTarget m_searchTarget{this};
    size_t m_iTextLimit = DEFAULT_TEXT_LIMIT;
    bool m_bFollow = true;
    bool m_bPaused = false;
    int m_iNewLines = 0;
    int m_iOwnChanges = 0;

    std::thread m_reader;
    std::atomic<bool> m_bStopReader{false};
    bool m_bReading = false;   // a large read, or the insertion of its text, is under way
    bool m_bReadAgain = false; // notices came meanwhile
    unsigned m_iReadGeneration = 0;
    QString m_pending;           // the large read's text not yet in the control
    qsizetype m_iPendingEnd = 0; // m_pending before this is still to be inserted
    int m_iInsertAt = 0;         // where the large read's text goes
};

// The document: the view's text and its modified flag.
class CZelbinDoc
{
public:
    explicit CZelbinDoc(CZelbinView* pView) : m_pView(pView) {}
    bool IsModified() const;
    void SetModifiedFlag(bool bModified);
    // Saves the text shown, edits included, as UTF-8 with CR LF line ends: the log file's own
    // format, so a saved log reads like the service's. All or nothing: a failed save leaves the
    // file as it was and says why in pError. A saved text takes the file's name.
    bool Save(const QString& path, QString* pError = nullptr);
    // New: an empty text without a name.
    void New();
    // The file the text was last saved to or opened from; empty before.
    const QString& GetPathName() const { return m_path; }
    // "name - Zelbin", "Untitled - Zelbin" without a name.
    QString GetWindowTitle() const;

private:
    CZelbinView* m_pView;
    QString m_path;
};
