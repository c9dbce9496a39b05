// SPDX-License-Identifier: MIT
// An opened log file's view.

#include "logfileview.h"

#include "highlighting.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>
#include <climits>

namespace
{
// Control characters show as their pictures (one unit for one, so that columns stay the text's).
void ShowControls(std::u16string& text)
{
    for (char16_t& c : text)
        if (c < 0x20 && c != u'\t')
            c = static_cast<char16_t>(0x2400 + c);
        else if (c == 0x7F)
            c = u'\u2421';
}

// A line shaped once: where each of its columns lies, and its drawing. Measuring every prefix of a
// long line instead (a highlight's ends, a click) shaped it again for each, which took most of a
// second for a line of 10 000 characters with a hundred matches.
class CLaidOutLine
{
public:
    CLaidOutLine(const QString& text, const QFont& font) : m_layout(text, font)
    {
        m_layout.setCacheEnabled(true);
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        m_layout.setTextOption(option);
        m_layout.beginLayout();
        m_line = m_layout.createLine();
        m_layout.endLayout();
    }
    int X(int iColumn) const { return m_line.isValid() ? qRound(m_line.cursorToX(iColumn)) : 0; }
    int Width() const { return m_line.isValid() ? qCeil(m_line.naturalTextWidth()) : 0; }
    int Column(int x) const { return m_line.isValid() ? m_line.xToCursor(x) : 0; }
    void Draw(QPainter& painter, int x, int y) const { m_layout.draw(&painter, QPointF(x, y)); }

private:
    QTextLayout m_layout;
    QTextLine m_line;
};

// The view as a screen reader sees it: read-only text, the lines on screen. The view draws
// itself, so without this the bus would show an empty scroll area.
class CAccessibleLogFile : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit CAccessibleLogFile(CLogFileView* pView)
        : QAccessibleWidget(pView, QAccessible::EditableText), m_pView(pView)
    {
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this)
                                                  : QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        return state;
    }
    QString text(int iStart, int iEnd) const override
    {
        return m_pView->TextInView().mid(iStart, iEnd - iStart);
    }
    int characterCount() const override { return static_cast<int>(m_pView->TextInView().size()); }
    // No caret or selection is offered: the view's own are in lines, not in this text.
    void selection(int, int* pStart, int* pEnd) const override { *pStart = *pEnd = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int iOffset, int* pStart, int* pEnd) const override
    {
        *pStart = *pEnd = iOffset;
        return {};
    }

private:
    CLogFileView* m_pView;
};

QAccessibleInterface* AccessibleLogFile(const QString& className, QObject* pObject)
{
    auto* pView =
        className == QLatin1String("CLogFileView") ? qobject_cast<CLogFileView*>(pObject) : nullptr;
    return pView ? new CAccessibleLogFile(pView) : nullptr;
}

QString Bytes(int64_t n)
{
    return n >= 10 * 1024 * 1024 ? QStringLiteral("%1 MiB").arg(n / (1024 * 1024))
                                 : QStringLiteral("%1 bytes").arg(GroupedNumber(n));
}
} // namespace

CFileSearchTarget::CFileSearchTarget(CLogFileView* pView) : CSearchTarget(pView), m_pView(pView) {}

std::shared_ptr<const ILineSource> CFileSearchTarget::GetLines(int64_t iFirstLine, int64_t& iFrom,
                                                               int64_t& iEnd)
{
    CLineIndex& index = m_pView->GetIndex();
    int64_t iNext = 0;
    iFrom = 0;
    if (iFirstLine > 0 && !index.GetLineRange(iFirstLine, iFrom, iNext))
        return nullptr;
    // The whole file, also while its index is still being built.
    iEnd = std::max(index.GetFileSize(), iFrom);
    return index.GetSource();
}

QString CFileSearchTarget::GetLineText(int64_t iLine) const
{
    return m_pView->ShownLine(iLine);
}

void CFileSearchTarget::SetFindPattern(const CLogPattern& pattern)
{
    m_pView->SetFindPattern(pattern);
}

int64_t CFileSearchTarget::GetCurrentLine() const
{
    return m_pView->GetSelectionStart().iLine;
}

int CFileSearchTarget::SelectMatchIn(int64_t iLine, const CLogPattern& pattern, bool bBackward,
                                     bool bAnywhere)
{
    const auto start = m_pView->GetSelectionStart(), end = m_pView->GetSelectionEnd();
    const int iAfter = bAnywhere || end.iLine != iLine ? 0 : end.iColumn;
    const int iBefore = bAnywhere || start.iLine != iLine ? INT_MAX : start.iColumn;
    int iFound = -1, iLength = 0, iOrdinal = 0, iNumber = 0;
    ForEachMatchIn(pattern, m_pView->ShownLine(iLine),
                   [&](int iStart, int n)
                   {
                       ++iNumber;
                       if (bBackward ? iStart + n <= iBefore : iStart >= iAfter && iFound < 0)
                       {
                           iFound = iStart;
                           iLength = n;
                           iOrdinal = iNumber;
                       }
                   });
    if (iFound < 0)
        return 0;
    m_pView->SetSelection({iLine, iFound}, {iLine, iFound + iLength});
    m_pView->ScrollToLine(iLine, true);
    return iOrdinal;
}

int CFileSearchTarget::GetSelectedMatch(const CLogPattern& pattern, int64_t& iLine) const
{
    const auto start = m_pView->GetSelectionStart(), end = m_pView->GetSelectionEnd();
    if (!m_pView->HasSelection() || start.iLine != end.iLine)
        return 0;
    iLine = start.iLine;
    int iNumber = 0, iOrdinal = 0;
    ForEachMatchIn(pattern, m_pView->ShownLine(iLine),
                   [&](int iStart, int n)
                   {
                       ++iNumber;
                       if (iStart == start.iColumn && iStart + n == end.iColumn)
                           iOrdinal = iNumber;
                   });
    return iOrdinal;
}

void CFileSearchTarget::GoToLine(int64_t iLine)
{
    m_pView->SetSelection({iLine, 0}, {iLine, 0});
    m_pView->ScrollToLine(iLine, true);
    m_pView->setFocus();
}

QString CFileSearchTarget::GetSelectionOnOneLine() const
{
    const auto start = m_pView->GetSelectionStart(), end = m_pView->GetSelectionEnd();
    if (start.iLine != end.iLine)
        return {};
    return m_pView->ShownLine(start.iLine).mid(start.iColumn, end.iColumn - start.iColumn);
}

QWidget* CFileSearchTarget::GetWidget() const
{
    return m_pView;
}

CLogFileView::CLogFileView(std::shared_ptr<CHighlightScheme> pScheme, QWidget* pParent)
    : QAbstractScrollArea(pParent), m_pScheme(std::move(pScheme))
{
    setObjectName(QStringLiteral("openedLog"));
    setFont(QFont(QStringLiteral("monospace")));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    // The index shows its progress, and the file is looked at for growth, four times a second.
    m_tick.setInterval(250);
    connect(&m_tick, &QTimer::timeout, this, &CLogFileView::OnTick);
    static const bool bAccessible = (QAccessible::installFactory(AccessibleLogFile), true);
    (void)bAccessible;
}

CLogFileView::~CLogFileView()
{
    m_tick.stop();
    if (m_copier.joinable())
        m_copier.join();
}

bool CLogFileView::Open(const QString& path)
{
    m_path = path;
    setAccessibleName(QFileInfo(path).fileName());
    if (!m_index.Open(path.toStdString()))
        return false;
    m_tick.start();
    UpdateScrollBars();
    return true;
}

QString CLogFileView::ShownLine(int64_t iLine, bool* pCut) const
{
    std::string bytes;
    int64_t iLength = 0;
    if (!m_index.ReadLine(iLine, SHOWN_LINE_BYTES, bytes, &iLength))
        return {};
    if (pCut)
        *pCut = iLength > static_cast<int64_t>(bytes.size()) + 2;
    // Plain ASCII without control characters, the usual line, needs no decoding.
    if (IsPlainAscii(bytes) &&
        std::none_of(bytes.begin(), bytes.end(),
                     [](char c) { return (c < 0x20 && c != '\t') || c == 0x7F; }))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    std::u16string text = DecodeLogText(bytes);
    ShowControls(text);
    return QString::fromStdU16String(text);
}

QString CLogFileView::TextInView() const
{
    QStringList lines;
    const int64_t iEnd = std::min(m_iTop + GetRowsInView(), m_index.GetLineCount());
    for (int64_t iLine = m_iTop; iLine < iEnd; ++iLine)
        lines += ShownLine(iLine);
    return lines.join(QLatin1Char('\n'));
}

int CLogFileView::GetRowsInView() const
{
    return std::max(1, viewport()->height() / fontMetrics().lineSpacing());
}

int CLogFileView::GutterWidth() const
{
    const int64_t n = std::max<int64_t>(m_index.GetEstimatedLineCount(), 1);
    return fontMetrics().horizontalAdvance(QString(QString::number(n).size(), QLatin1Char('9'))) +
           12;
}

int CLogFileView::GetTextLeft() const
{
    return GutterWidth() + 4 - horizontalScrollBar()->value();
}

void CLogFileView::UpdateScrollBars()
{
    const int64_t iLines = m_index.GetEstimatedLineCount();
    m_iShownLines = iLines;
    QScrollBar* pBar = verticalScrollBar();
    pBar->setRange(0,
                   static_cast<int>(std::clamp<int64_t>(iLines - GetRowsInView() + 1, 0, INT_MAX)));
    pBar->setPageStep(GetRowsInView());
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void CLogFileView::resizeEvent(QResizeEvent* pEvent)
{
    QAbstractScrollArea::resizeEvent(pEvent);
    UpdateScrollBars();
}

void CLogFileView::scrollContentsBy(int, int)
{
    m_iTop = verticalScrollBar()->value();
    viewport()->update();
}

void CLogFileView::ScrollToLine(int64_t iLine, bool bCentre)
{
    const int64_t iTop = bCentre ? iLine - GetRowsInView() / 2 : iLine;
    verticalScrollBar()->setValue(static_cast<int>(std::clamp<int64_t>(iTop, 0, INT_MAX)));
    m_iTop = verticalScrollBar()->value();
    viewport()->update();
}

bool CLogFileView::IsAtEnd() const
{
    return m_iTop + GetRowsInView() >= m_index.GetLineCount();
}

void CLogFileView::SetFindPattern(const CLogPattern& pattern)
{
    m_findPattern = pattern;
    viewport()->update();
}

void CLogFileView::SetSelection(CPosition anchor, CPosition position)
{
    m_anchor = anchor;
    m_position = position;
    viewport()->update();
    emit SelectionChanged();
}

void CLogFileView::SelectAll()
{
    SetSelection({0, 0}, {std::max<int64_t>(m_index.GetLineCount() - 1, 0), INT_MAX});
}

void CLogFileView::OnTick()
{
    const int64_t iBefore = m_index.GetLineCount();
    switch (m_index.Refresh())
    {
    case CLineIndex::EChange::Rebuilt:
        emit Notice(QStringLiteral("\"%1\" changed on disk (it shrank or was replaced): read anew")
                        .arg(QFileInfo(m_path).fileName()));
        SetSelection({}, {});
        m_iGrewFrom = -1;
        emit m_target.LinesChanged(0);
        break;
    case CLineIndex::EChange::Deleted:
        if (!std::exchange(m_bDeletedTold, true))
            emit Notice(QStringLiteral("\"%1\" was deleted: what was read stays shown")
                            .arg(QFileInfo(m_path).fileName()));
        break;
    case CLineIndex::EChange::Grew:
        if (m_iGrewFrom < 0)
        {
            m_iGrewFrom = std::max<int64_t>(iBefore - 1, 0); // the last line may go on
            // At the end as it was before this growth: the indexing thread may have counted
            // some of the new lines already.
            m_bFollowEnd = m_iTop + GetRowsInView() >= iBefore;
        }
        break;
    case CLineIndex::EChange::None:
        break;
    }
    if (m_iGrewFrom >= 0 && m_index.IsComplete())
    {
        emit m_target.LinesChanged(std::exchange(m_iGrewFrom, -1));
        if (m_bFollowEnd)
        {
            UpdateScrollBars(); // the range first: the scroll bar holds the view within it
            ScrollToLine(m_index.GetLineCount() - GetRowsInView() + 1, false);
        }
    }
    if (m_index.GetEstimatedLineCount() != m_iShownLines || !m_index.IsComplete())
    {
        UpdateScrollBars();
        viewport()->update();
    }
}

void CLogFileView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.fillRect(viewport()->rect(), colours.color(QPalette::Base));
    const QFontMetrics metrics = fontMetrics();
    const int iLineHeight = metrics.lineSpacing(), iGutter = GutterWidth();
    const int iLeft = GetTextLeft();
    painter.fillRect(0, 0, iGutter, viewport()->height(), colours.color(QPalette::AlternateBase));
    QColor found = colours.color(QPalette::Highlight);
    found.setAlpha(96);
    const CPosition selStart = GetSelectionStart(), selEnd = GetSelectionEnd();
    int iWidest = 0;
    const int64_t iLines = m_index.GetLineCount();
    for (int iRow = 0; iRow <= GetRowsInView() && m_iTop + iRow < iLines; ++iRow)
    {
        const int64_t iLine = m_iTop + iRow;
        const int y = iRow * iLineHeight;
        bool bCut = false;
        const QString text = ShownLine(iLine, &bCut);
        const CLaidOutLine laidOut(text, font());
        const auto xOf = [&](int iColumn) { return iLeft + laidOut.X(iColumn); };
        const int iEnd = iLeft + laidOut.Width();
        iWidest = std::max(iWidest, iEnd - iLeft + 40);
        painter.setClipRect(iGutter, 0, viewport()->width() - iGutter, viewport()->height());
        QColor ink = colours.color(QPalette::Text);
        if (const QTextCharFormat* pFormat = m_pScheme ? m_pScheme->FormatOf(text) : nullptr)
        {
            if (pFormat->hasProperty(QTextFormat::BackgroundBrush))
                painter.fillRect(iLeft, y, iEnd - iLeft, iLineHeight, pFormat->background());
            if (pFormat->hasProperty(QTextFormat::ForegroundBrush))
                ink = pFormat->foreground().color();
        }
        if (iLine >= selStart.iLine && iLine <= selEnd.iLine && HasSelection())
        {
            const int x0 = iLine == selStart.iLine ? xOf(selStart.iColumn) : iLeft;
            const int x1 = iLine == selEnd.iLine ? xOf(selEnd.iColumn) : iEnd + 8;
            painter.fillRect(x0, y, x1 - x0, iLineHeight, colours.color(QPalette::Highlight));
        }
        ForEachMatchIn(m_findPattern, text,
                       [&](int iStart, int n) {
                           painter.fillRect(xOf(iStart), y, xOf(iStart + n) - xOf(iStart),
                                            iLineHeight, found);
                       });
        painter.setPen(ink);
        laidOut.Draw(painter, iLeft, y);
        if (bCut)
        {
            int64_t iBegin = 0, iNext = 0;
            m_index.GetLineRange(iLine, iBegin, iNext);
            painter.setPen(colours.color(QPalette::PlaceholderText));
            painter.drawText(
                iEnd, y + metrics.ascent(),
                QStringLiteral(" \u2026 [line cut; %1 in all]").arg(Bytes(iNext - iBegin)));
        }
        painter.setClipping(false);
        painter.setPen(colours.color(QPalette::PlaceholderText));
        painter.drawText(QRect(0, y, iGutter - 6, iLineHeight), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(iLine + 1));
    }
    QScrollBar* pBar = horizontalScrollBar();
    if (iWidest > pBar->maximum() + viewport()->width() - iGutter)
        pBar->setRange(0, iWidest - viewport()->width() + iGutter);
}

CLogFileView::CPosition CLogFileView::PositionAt(const QPoint& point) const
{
    const int64_t iLines = m_index.GetLineCount();
    CPosition at;
    at.iLine = std::clamp<int64_t>(m_iTop + point.y() / fontMetrics().lineSpacing(), 0,
                                   std::max<int64_t>(iLines - 1, 0));
    const int x = point.x() - GetTextLeft();
    // The column nearest the point.
    at.iColumn = CLaidOutLine(ShownLine(at.iLine), font()).Column(x);
    return at;
}

void CLogFileView::mousePressEvent(QMouseEvent* pEvent)
{
    setFocus();
    if (pEvent->button() != Qt::LeftButton)
        return;
    MoveTo(PositionAt(pEvent->position().toPoint()), pEvent->modifiers() & Qt::ShiftModifier);
}

void CLogFileView::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (!(pEvent->buttons() & Qt::LeftButton))
        return;
    const QPoint point = pEvent->position().toPoint();
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    MoveTo(PositionAt(point), true);
}

void CLogFileView::MoveTo(CPosition position, bool bExtend)
{
    const int64_t iLines = m_index.GetLineCount();
    position.iLine = std::clamp<int64_t>(position.iLine, 0, std::max<int64_t>(iLines - 1, 0));
    position.iColumn = std::max(position.iColumn, 0);
    SetSelection(bExtend ? m_anchor : position, position);
    if (position.iLine < m_iTop)
        ScrollToLine(position.iLine, false);
    else if (position.iLine >= m_iTop + GetRowsInView())
        ScrollToLine(position.iLine - GetRowsInView() + 1, false);
}

void CLogFileView::keyPressEvent(QKeyEvent* pEvent)
{
    const bool bShift = pEvent->modifiers() & Qt::ShiftModifier;
    const bool bControl = pEvent->modifiers() & Qt::ControlModifier;
    CPosition to = m_position;
    const int iPage = GetRowsInView();
    switch (pEvent->key())
    {
    case Qt::Key_Up:
        --to.iLine;
        break;
    case Qt::Key_Down:
        ++to.iLine;
        break;
    case Qt::Key_PageUp:
        to.iLine -= iPage;
        break;
    case Qt::Key_PageDown:
        to.iLine += iPage;
        break;
    case Qt::Key_Left:
        to.iColumn =
            std::max(0, std::min(to.iColumn, static_cast<int>(ShownLine(to.iLine).size())) - 1);
        break;
    case Qt::Key_Right:
        ++to.iColumn;
        break;
    case Qt::Key_Home:
        to = bControl ? CPosition{} : CPosition{to.iLine, 0};
        break;
    case Qt::Key_End:
        to = bControl ? CPosition{m_index.GetLineCount() - 1, INT_MAX}
                      : CPosition{to.iLine, INT_MAX};
        break;
    default:
        if (pEvent->matches(QKeySequence::SelectAll))
            SelectAll();
        else if (pEvent->matches(QKeySequence::Copy))
            Copy();
        else
            QAbstractScrollArea::keyPressEvent(pEvent);
        return;
    }
    MoveTo(to, bShift);
}

bool CLogFileView::SelectionBytes(int64_t& iFrom, int64_t& iTo) const
{
    const CPosition start = GetSelectionStart(), end = GetSelectionEnd();
    int64_t iBegin = 0, iNext = 0;
    const auto offsetOf = [&](const CPosition& at, int64_t& iOffset)
    {
        std::string bytes;
        int64_t iLength = 0;
        if (!m_index.GetLineRange(at.iLine, iBegin, iNext) ||
            !m_index.ReadLine(at.iLine, SHOWN_LINE_BYTES, bytes, &iLength))
            return false;
        const size_t iShown = DecodeLogText(bytes).size();
        // At or past the end of a cut line: its whole rest.
        iOffset =
            at.iColumn >= static_cast<int>(iShown) && iLength > static_cast<int64_t>(bytes.size())
                ? iNext
                : iBegin +
                      static_cast<int64_t>(LogTextBytes(bytes, static_cast<size_t>(at.iColumn)));
        return true;
    };
    return HasSelection() && offsetOf(start, iFrom) && offsetOf(end, iTo);
}

QString CLogFileView::SelectedText() const
{
    int64_t iFrom = 0, iTo = 0, iLineStart = 0, iNext = 0;
    auto pSource = m_index.GetSource();
    if (!SelectionBytes(iFrom, iTo) || !pSource ||
        !m_index.GetLineRange(GetSelectionStart().iLine, iLineStart, iNext))
        return {};
    return QString::fromStdU16String(DecodeLogText(ReadLogText(*pSource, iLineStart, iFrom, iTo)));
}

bool CLogFileView::Copy()
{
    int64_t iFrom = 0, iTo = 0, iLineStart = 0, iNext = 0;
    auto pSource = m_index.GetSource();
    if (!SelectionBytes(iFrom, iTo) || !pSource ||
        !m_index.GetLineRange(GetSelectionStart().iLine, iLineStart, iNext))
        return false;
    if (iTo - iFrom > m_iCopyLimit)
    {
        emit Notice(QStringLiteral("Not copied: the selection is %1; at most %2 can be copied "
                                   "(Save As writes the whole file)")
                        .arg(Bytes(iTo - iFrom), Bytes(m_iCopyLimit)));
        return false;
    }
    if (m_copier.joinable())
        m_copier.join();
    m_copier = std::thread(
        [this, pSource, iLineStart, iFrom, iTo]
        {
            QString text = QString::fromStdU16String(
                DecodeLogText(ReadLogText(*pSource, iLineStart, iFrom, iTo)));
            QMetaObject::invokeMethod(
                this,
                [this, text = std::move(text)]
                {
                    QApplication::clipboard()->setText(text);
                    emit Copied();
                },
                Qt::QueuedConnection);
        });
    return true;
}
