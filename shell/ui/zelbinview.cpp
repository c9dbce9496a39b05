// SPDX-License-Identifier: MIT
// The log view and its document.

#include "zelbinview.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWheelEvent>

#include <climits>
#include <functional>
#include <utility>

namespace
{
// The control keeps line ends as block breaks: CR LF becomes one. One pass, one allocation: a
// notice can carry megabytes.
QString ToControlText(const std::u16string& text)
{
    QString s(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
    QChar* pOut = s.data();
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        *pOut++ = QChar(text[i]);
    }
    s.truncate(pOut - s.constData());
    return s;
}
} // namespace

namespace
{
constexpr int MAX_PAINTED_MATCH_CHARS = 64 * 1024;
}

CLiveSearchTarget::CLiveSearchTarget(CZelbinView* pView)
    : CSearchTarget(pView), m_pView(pView), m_pReport(new QTimer(this))
{
    // Changes are reported together at most every 50 ms: a large read puts its text in by the
    // piece, and a flood appends many times a second.
    m_pReport->setSingleShot(true);
    m_pReport->setInterval(50);
    connect(m_pReport, &QTimer::timeout, this,
            [this] { emit LinesChanged(std::exchange(m_iChangedFrom, -1)); });
    connect(pView->document(), &QTextDocument::contentsChange, this,
            &CLiveSearchTarget::OnContentsChange);
}

void CLiveSearchTarget::OnContentsChange(int iPosition, int, int)
{
    const int iLine = m_pView->document()->findBlock(iPosition).blockNumber();
    m_iChangedFrom = m_iChangedFrom < 0 ? iLine : std::min(m_iChangedFrom, iLine);
    // An emptied view has nothing to list, at once.
    if (m_pView->document()->characterCount() <= 1)
    {
        m_pReport->stop();
        emit LinesChanged(std::exchange(m_iChangedFrom, -1));
    }
    else if (!m_pReport->isActive())
    {
        m_pReport->start();
    }
}

std::shared_ptr<const ILineSource> CLiveSearchTarget::GetLines(int64_t iFirstLine, int64_t& iFrom,
                                                               int64_t& iEnd)
{
    QString text;
    for (QTextBlock block = m_pView->document()->findBlockByNumber(static_cast<int>(iFirstLine));
         block.isValid(); block = block.next())
    {
        text += block.text();
        if (block.next().isValid())
            text += QLatin1Char('\n');
    }
    auto pSource = std::make_shared<CTextSource>(text.toStdString());
    iFrom = 0;
    iEnd = pSource->GetSize();
    return pSource;
}

QString CLiveSearchTarget::GetLineText(int64_t iLine) const
{
    return m_pView->document()->findBlockByNumber(static_cast<int>(iLine)).text();
}

void CLiveSearchTarget::SetFindPattern(const CLogPattern& pattern)
{
    m_pView->SetFindPattern(pattern);
}

int64_t CLiveSearchTarget::GetCurrentLine() const
{
    return m_pView->document()->findBlock(m_pView->textCursor().selectionStart()).blockNumber();
}

int CLiveSearchTarget::SelectMatchIn(int64_t iLine, const CLogPattern& pattern, bool bBackward,
                                     bool bAnywhere)
{
    const QTextBlock block = m_pView->document()->findBlockByNumber(static_cast<int>(iLine));
    if (!block.isValid())
        return 0;
    const QTextCursor current = m_pView->textCursor();
    const int iAfter = bAnywhere ? 0 : current.selectionEnd() - block.position();
    const int iBefore = bAnywhere ? INT_MAX : current.selectionStart() - block.position();
    int iFound = -1, iLength = 0, iOrdinal = 0, iNumber = 0;
    ForEachMatchIn(pattern, block.text(),
                   [&](int iStart, int n)
                   {
                       ++iNumber;
                       const bool bTaken =
                           bBackward ? iStart + n <= iBefore : iStart >= iAfter && iFound < 0;
                       if (bTaken)
                       {
                           iFound = iStart;
                           iLength = n;
                           iOrdinal = iNumber;
                       }
                   });
    if (iFound < 0)
        return 0;
    QTextCursor match(m_pView->document());
    match.setPosition(block.position() + iFound);
    match.setPosition(block.position() + iFound + iLength, QTextCursor::KeepAnchor);
    m_pView->setTextCursor(match); // the user's choice: following pauses
    m_pView->centerCursor();
    return iOrdinal;
}

int CLiveSearchTarget::GetSelectedMatch(const CLogPattern& pattern, int64_t& iLine) const
{
    const QTextCursor selection = m_pView->textCursor();
    const QTextBlock block = m_pView->document()->findBlock(selection.selectionStart());
    if (!selection.hasSelection() ||
        block != m_pView->document()->findBlock(selection.selectionEnd()))
        return 0;
    iLine = block.blockNumber();
    int iNumber = 0, iOrdinal = 0;
    ForEachMatchIn(pattern, block.text(),
                   [&](int iStart, int n)
                   {
                       ++iNumber;
                       if (block.position() + iStart == selection.selectionStart() &&
                           block.position() + iStart + n == selection.selectionEnd())
                           iOrdinal = iNumber;
                   });
    return iOrdinal;
}

void CLiveSearchTarget::GoToLine(int64_t iLine)
{
    m_pView->GoToLine(static_cast<int>(iLine));
}

QString CLiveSearchTarget::GetSelectionOnOneLine() const
{
    const QString selected = m_pView->textCursor().selectedText();
    return selected.contains(QChar::ParagraphSeparator) ? QString() : selected;
}

QWidget* CLiveSearchTarget::GetWidget() const
{
    return m_pView;
}

class CZelbinView::CGuard
{
public:
    explicit CGuard(CZelbinView* pView) : m_pView(pView) { ++m_pView->m_iOwnChanges; }
    ~CGuard() { --m_pView->m_iOwnChanges; }

private:
    CZelbinView* m_pView;
};

CZelbinView::CZelbinView(QWidget* pParent) : QPlainTextEdit(pParent)
{
    setObjectName(QStringLiteral("logView"));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFont(QStringLiteral("monospace")));
    // What the user does to the view pauses following; what the view does itself does not.
    connect(this, &QPlainTextEdit::selectionChanged, this,
            [this]
            {
                if (!m_iOwnChanges && textCursor().hasSelection())
                    Pause();
            });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this,
            [this]
            {
                if (!m_iOwnChanges && !textCursor().atEnd())
                    Pause();
            });
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this]
            {
                // The action is applied after this signal: look once it has been.
                QMetaObject::invokeMethod(
                    this, [this] { PauseIfScrolledUp(); }, Qt::QueuedConnection);
            });
}

void CZelbinView::Pause()
{
    if (m_bPaused)
        return;
    m_bPaused = true;
    m_iNewLines = 0;
    emit FollowStateChanged();
}

void CZelbinView::SetFollow(bool bFollow)
{
    m_bFollow = bFollow;
    if (bFollow)
        ResumeFollowing();
    else
        emit FollowStateChanged();
}

void CZelbinView::ResumeFollowing()
{
    m_bFollow = true;
    m_bPaused = false;
    m_iNewLines = 0;
    MoveCaretToEnd();
    emit FollowStateChanged();
}

void CZelbinView::keyPressEvent(QKeyEvent* pEvent)
{
    QPlainTextEdit::keyPressEvent(pEvent);
    if (pEvent->key() == Qt::Key_End && (pEvent->modifiers() & Qt::ControlModifier))
        ResumeFollowing();
}

void CZelbinView::wheelEvent(QWheelEvent* pEvent)
{
    QPlainTextEdit::wheelEvent(pEvent);
    PauseIfScrolledUp();
}

void CZelbinView::SetFindPattern(const CLogPattern& pattern)
{
    m_findPattern = pattern;
    viewport()->update();
}

void CZelbinView::paintEvent(QPaintEvent* pEvent)
{
    QPlainTextEdit::paintEvent(pEvent);
    if (!m_findPattern.IsValid())
        return;
    // Only the lines in view are searched, each time they are painted.
    QPainter painter(viewport());
    QColor fill = palette().color(QPalette::Highlight);
    fill.setAlpha(96);
    const QPointF offset = contentOffset();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next())
    {
        const QRectF box = blockBoundingGeometry(block).translated(offset);
        if (box.top() > viewport()->height())
            break;
        const QTextLayout* pLayout = block.layout();
        // A line of megabytes is looked at where the screen can show it.
        ForEachMatchIn(m_findPattern, block.text().left(MAX_PAINTED_MATCH_CHARS),
                       [&](int iStart, int iLength)
                       {
                           const QTextLine line = pLayout->lineForTextPosition(iStart);
                           if (!line.isValid())
                               return;
                           const qreal x = line.cursorToX(iStart);
                           painter.fillRect(QRectF(box.left() + x, box.top() + line.y(),
                                                   line.cursorToX(iStart + iLength) - x,
                                                   line.height()),
                                            fill);
                       });
    }
}

void CZelbinView::GoToLine(int iLine)
{
    const QTextBlock block = document()->findBlockByNumber(iLine);
    if (!block.isValid())
        return;
    setTextCursor(QTextCursor(block)); // the user's choice: following pauses
    centerCursor();
    setFocus();
}

void CZelbinView::PauseIfScrolledUp()
{
    if (verticalScrollBar()->value() < verticalScrollBar()->maximum())
        Pause();
}

namespace
{
// Text that comes from the log file is no edit of the user's: like an edit control, the view
// keeps no undo record of it (which would also keep every byte of the log in memory twice).
class CNoUndo
{
public:
    explicit CNoUndo(QPlainTextEdit* pEdit) : m_pEdit(pEdit) { m_pEdit->setUndoRedoEnabled(false); }
    ~CNoUndo() { m_pEdit->setUndoRedoEnabled(true); }

private:
    QPlainTextEdit* m_pEdit;
};
} // namespace

CZelbinView::~CZelbinView()
{
    StopBackgroundRead();
}

QString CZelbinView::GetLogError() const
{
    return m_bReading ? QString() : QString::fromStdString(m_follower.GetError());
}

void CZelbinView::SetLogFile(const std::u16string& path)
{
    if (path == m_follower.GetLogFilePath())
        return;
    StopBackgroundRead();
    m_follower.SetLogFile(path);
    ReadNewLogData();
}

void CZelbinView::ReadNewLogData()
{
    if (m_bReading)
    {
        m_bReadAgain = true; // applied in order once the large read is shown
        return;
    }
    if (m_follower.GetUnreadSize() > BACKGROUND_READ_BYTES)
        StartBackgroundRead();
    else
        m_follower.ReadNewLogData(*this);
}

void CZelbinView::OnInitialUpdate()
{
    if (m_iTextLimit == DEFAULT_TEXT_LIMIT)
        m_iTextLimit = RAISED_TEXT_LIMIT;
    StopBackgroundRead();
    m_follower.Reopen();
    ReadNewLogData();
}

namespace
{
// The view as the reading thread sees it: its limit. Whether the read empties it is recorded and
// applied on the view's own thread afterwards, with the insertion.
class CDeferredTarget : public ILogTextTarget
{
public:
    CDeferredTarget(size_t iLimit, std::function<bool(uint64_t, uint64_t)> progress)
        : m_iLimit(iLimit), m_progress(std::move(progress))
    {
    }
    // Asked only when inserting, which the view's own thread does.
    size_t GetTextLength() override { return 0; }
    size_t GetTextLimit() override { return m_iLimit; }
    void MoveCaretToEnd() override {}
    void Empty() override { bEmptied = true; }
    // A control takes its text in one batch: the read never streams into it.
    void Insert(const std::u16string&) override {}
    void ReplaceAll(const std::u16string&) override {}
    bool OnReadProgress(uint64_t iDone, uint64_t iTotal) override
    {
        return m_progress(iDone, iTotal);
    }

    bool bEmptied = false;

private:
    size_t m_iLimit;
    std::function<bool(uint64_t, uint64_t)> m_progress;
};
} // namespace

void CZelbinView::StartBackgroundRead()
{
    m_bReading = true;
    m_bReadAgain = false;
    const unsigned iGeneration = m_iReadGeneration;
    emit ReadingProgress(0);
    m_reader = std::thread(
        [this, iGeneration, iLimit = m_iTextLimit]
        {
            CDeferredTarget target(iLimit,
                                   [this, iGeneration](uint64_t iDone, uint64_t iTotal)
                                   {
                                       const int iPercent = static_cast<int>(iDone * 100 / iTotal);
                                       QMetaObject::invokeMethod(
                                           this,
                                           [this, iGeneration, iPercent]
                                           {
                                               if (iGeneration == m_iReadGeneration)
                                                   emit ReadingProgress(std::min(iPercent, 99));
                                           },
                                           Qt::QueuedConnection);
                                       return !m_bStopReader;
                                   });
            std::u16string batch;
            const bool bRead = m_follower.CollectNewLogData(target, batch);
            QString text = ToControlText(batch);
            QMetaObject::invokeMethod(
                this,
                [this, iGeneration, bRead, bEmptied = target.bEmptied, text = std::move(text)]
                { OnBackgroundReadDone(iGeneration, bRead, bEmptied, text); },
                Qt::QueuedConnection);
        });
}

void CZelbinView::OnBackgroundReadDone(unsigned iGeneration, bool bRead, bool bEmptied,
                                       QString text)
{
    if (iGeneration != m_iReadGeneration)
        return;
    m_reader.join();
    if (!bRead)
    {
        m_bReading = false;
        return;
    }
    MoveCaretToEnd();
    if (bEmptied)
        Empty();
    // A control too full for the text refuses it, and the text then replaces its own. The text
    // itself is below the limit: the read empties it whenever it reaches that.
    if (GetTextLength() + static_cast<size_t>(text.size()) > m_iTextLimit)
        Empty();
    m_pending = std::move(text);
    m_iPendingEnd = m_pending.size();
    m_iInsertAt = static_cast<int>(GetTextLength());
    InsertNextPiece(iGeneration);
}

// The pieces go in from the last to the first, each in front of the one before: the newest lines
// show at once, and the older ones fill in above them.
void CZelbinView::InsertNextPiece(unsigned iGeneration)
{
    if (iGeneration != m_iReadGeneration)
        return;
    qsizetype iStart = std::max<qsizetype>(0, m_iPendingEnd - INSERT_PIECE_CHARS);
    if (iStart > 0 && m_pending.at(iStart).isLowSurrogate())
        --iStart; // a character is never split between two pieces
    InsertText(m_pending.mid(iStart, m_iPendingEnd - iStart), m_iInsertAt);
    m_iPendingEnd = iStart;
    if (m_iPendingEnd > 0)
    {
        // The rest after the events that came meanwhile: the window answers between pieces.
        QMetaObject::invokeMethod(
            this, [this, iGeneration] { InsertNextPiece(iGeneration); }, Qt::QueuedConnection);
        return;
    }
    m_pending.clear();
    m_bReading = false;
    emit ReadingProgress(100);
    if (m_bReadAgain)
        ReadNewLogData();
}

void CZelbinView::StopBackgroundRead()
{
    ++m_iReadGeneration;
    if (m_reader.joinable())
    {
        m_bStopReader = true;
        m_reader.join();
        m_bStopReader = false;
    }
    m_bReading = false;
    m_bReadAgain = false;
    m_pending.clear();
}

size_t CZelbinView::GetTextLength()
{
    return static_cast<size_t>(std::max(0, document()->characterCount() - 1));
}

void CZelbinView::MoveCaretToEnd()
{
    if (!IsFollowing())
        return; // the user's caret, selection and scroll position stay
    CGuard guard(this);
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CZelbinView::Empty()
{
    CGuard guard(this);
    CNoUndo noUndo(this);
    clear();
}

void CZelbinView::Insert(const std::u16string& batch)
{
    const QString text = ToControlText(batch);
    // Like an edit control, a full control refuses the insertion; the reader then replaces.
    if (GetTextLength() + static_cast<size_t>(text.size()) > m_iTextLimit)
        return;
    InsertText(text);
}

void CZelbinView::InsertText(const QString& text, int iAt)
{
    if (text.isEmpty())
        return;
    CGuard guard(this);
    CNoUndo noUndo(this);
    QTextCursor at(document());
    if (iAt < 0)
        at.movePosition(QTextCursor::End);
    else
        at.setPosition(iAt);
    if (IsFollowing())
    {
        at.insertText(text);
        MoveCaretToEnd();
        return;
    }
    // Paused: inserted behind the user's back.
    const int iScroll = verticalScrollBar()->value();
    const int iColumn = horizontalScrollBar()->value();
    // Kept as numbers: a cursor, the user's or a copy, at the end would be pushed along.
    const int iAnchor = textCursor().anchor();
    const int iPosition = textCursor().position();
    at.insertText(text);
    QTextCursor kept(document());
    kept.setPosition(iAnchor);
    kept.setPosition(iPosition, QTextCursor::KeepAnchor);
    setTextCursor(kept);
    verticalScrollBar()->setValue(iScroll);
    horizontalScrollBar()->setValue(iColumn);
    m_iNewLines += static_cast<int>(text.count(QLatin1Char('\n')));
    emit FollowStateChanged();
}

void CZelbinView::ReplaceAll(const std::u16string& batch)
{
    QString text = ToControlText(batch);
    if (static_cast<size_t>(text.size()) > m_iTextLimit)
        text = text.right(static_cast<qsizetype>(m_iTextLimit)); // the newest text survives
    CGuard guard(this);
    CNoUndo noUndo(this);
    setPlainText(text);
    MoveCaretToEnd();
}

std::unique_ptr<QTextDocument> CZelbinView::CreatePrintDocument() const
{
    std::unique_ptr<QTextDocument> pCopy(document()->clone());
    QTextOption option = pCopy->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    pCopy->setDefaultTextOption(option);
    pCopy->setDefaultFont(font());
    return pCopy;
}

void CZelbinView::PrintWrapped(QPrinter* pPrinter) const
{
    CreatePrintDocument()->print(pPrinter);
}

bool CZelbinDoc::IsModified() const
{
    return m_pView->document()->isModified();
}

void CZelbinDoc::SetModifiedFlag(bool bModified)
{
    m_pView->document()->setModified(bModified);
}

bool CZelbinDoc::Save(const QString& path, QString* pError)
{
    // Written beside the target and renamed over it at the end: a full disk or a failed write
    // leaves the earlier file whole.
    QSaveFile file(path);
    QString text = m_pView->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const QByteArray bytes = text.toUtf8();
    const bool bSaved =
        file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!bSaved)
    {
        if (pError)
            *pError = file.errorString();
        file.cancelWriting();
        return false;
    }
    SetModifiedFlag(false);
    m_path = path;
    return true;
}

QString CZelbinDoc::GetWindowTitle() const
{
    const QString name =
        m_path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(m_path).fileName();
    return name + QStringLiteral(" - Zelbin");
}

void CZelbinDoc::New()
{
    m_pView->clear();
    SetModifiedFlag(false);
    m_path.clear();
}
