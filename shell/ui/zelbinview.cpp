// SPDX-License-Identifier: MIT
// The log view and its document.

#include "zelbinview.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPrinter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWheelEvent>

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

void CZelbinView::SetLogFile(const std::u16string& path)
{
    m_follower.SetLogFile(path, *this);
}

void CZelbinView::ReadNewLogData()
{
    m_follower.ReadNewLogData(*this);
}

void CZelbinView::OnInitialUpdate()
{
    if (m_iTextLimit == DEFAULT_TEXT_LIMIT)
        m_iTextLimit = RAISED_TEXT_LIMIT;
    m_follower.Reopen();
    ReadNewLogData();
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
    if (text.isEmpty())
        return;
    // Like an edit control, a full control refuses the insertion; the reader then replaces.
    if (GetTextLength() + static_cast<size_t>(text.size()) > m_iTextLimit)
        return;
    CGuard guard(this);
    CNoUndo noUndo(this);
    if (IsFollowing())
    {
        textCursor().insertText(text);
        ensureCursorVisible();
        return;
    }
    // Paused: appended at the end behind the user's back.
    const int iScroll = verticalScrollBar()->value();
    const int iColumn = horizontalScrollBar()->value();
    // Kept as numbers: a cursor, the user's or a copy, at the end would be pushed along.
    const int iAnchor = textCursor().anchor();
    const int iPosition = textCursor().position();
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
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

bool CZelbinDoc::Load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_pView->setPlainText(text);
    SetModifiedFlag(false);
    m_path = path;
    return true;
}

void CZelbinDoc::New()
{
    m_pView->clear();
    SetModifiedFlag(false);
    m_path.clear();
}
