// SPDX-License-Identifier: MIT
// Find and filter: patterns typed into fields, and the index of matching lines.

#include "logsearch.h"

#include <QPointer>

CLogPattern MakeLogPattern(const QString& text, bool bCaseSensitive, bool bRegularExpression)
{
    return CLogPattern(text.toStdString(), bCaseSensitive, bRegularExpression);
}

void ForEachMatchIn(const CLogPattern& pattern, const QString& line,
                    const std::function<void(int, int)>& f)
{
    if (!pattern.IsValid())
        return;
    const QByteArray bytes = line.toUtf8();
    // Byte offsets to positions in the line, walking on from the last one.
    int iPosition = 0;
    size_t iByte = 0;
    const auto positionOf = [&](size_t iTarget)
    {
        for (; iByte < iTarget && iPosition < line.size(); ++iPosition)
        {
            const char16_t c = line[iPosition].unicode();
            iByte += c < 0x80 ? 1 : c < 0x800 ? 2 : QChar::isHighSurrogate(c) ? 4 : 3;
            if (QChar::isHighSurrogate(c))
                ++iPosition;
        }
        return iPosition;
    };
    pattern.ForEachMatch(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                         [&](size_t iStart, size_t iLength)
                         {
                             const int iFrom = positionOf(iStart);
                             f(iFrom, positionOf(iStart + iLength) - iFrom);
                         });
}

QString GroupedNumber(int64_t n)
{
    QString digits = QString::number(n);
    for (qsizetype i = digits.size() - 3; i > (n < 0 ? 1 : 0); i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return digits;
}

CMatchIndex::~CMatchIndex()
{
    m_search.Cancel();
}

void CMatchIndex::SetTarget(CSearchTarget* pTarget)
{
    if (m_pTarget)
        disconnect(m_pTarget, nullptr, this, nullptr);
    m_pTarget = pTarget;
    if (m_pTarget)
        connect(m_pTarget, &CSearchTarget::LinesChanged, this,
                [this](qint64 iFirstLine) { OnLinesChanged(iFirstLine); });
    OnLinesChanged(0);
}

void CMatchIndex::SetPattern(const CLogPattern& pattern)
{
    m_pattern = pattern;
    OnLinesChanged(0);
}

void CMatchIndex::Cancel()
{
    if (!m_bSearching)
        return;
    m_search.Cancel();
    m_pPending.reset(); // what it had found and is still waiting is dropped
    m_bSearching = false;
    m_bStopped = true;
    m_iPendingFrom = -1;
    emit Progress();
}

int64_t CMatchIndex::GetMatchNumber(int64_t iLine, int iOrdinal) const
{
    int64_t iBefore = 0;
    for (const CFoundLine& line : m_lines)
    {
        if (line.iLine == iLine)
            return iBefore + iOrdinal;
        if (line.iLine > iLine)
            break;
        iBefore += line.iMatches;
    }
    return 0;
}

void CMatchIndex::OnLinesChanged(int64_t iFirstLine)
{
    // Lines from the change on are gone from the list; a list that was full starts over, since
    // what it counted beyond its end is not known line by line.
    if (m_iFirstUnlisted >= 0)
        iFirstLine = 0;
    // A change behind what the search under way has looked at waits for it to end.
    if (m_bSearching && iFirstLine > m_iSearchFrom)
    {
        m_iPendingFrom = m_iPendingFrom < 0 ? iFirstLine : std::min(m_iPendingFrom, iFirstLine);
        return;
    }
    const auto it = std::lower_bound(m_lines.begin(), m_lines.end(), iFirstLine,
                                     [](const CFoundLine& l, int64_t i) { return l.iLine < i; });
    const bool bCut = it != m_lines.end();
    for (auto i = it; i != m_lines.end(); ++i)
        m_iMatches -= i->iMatches;
    m_lines.erase(it, m_lines.end());
    if (iFirstLine == 0)
    {
        m_iMatches = 0;
        m_iFirstUnlisted = -1;
    }
    if (bCut || iFirstLine == 0)
        emit Rebuilt();
    StartSearch(iFirstLine);
}

void CMatchIndex::StartSearch(int64_t iFirstLine)
{
    m_search.Cancel();
    m_pPending.reset();
    m_iPendingFrom = -1;
    m_bStopped = false;
    int64_t iFrom = 0, iEnd = 0;
    std::shared_ptr<const ILineSource> pSource =
        m_pTarget && m_pattern.IsValid() ? m_pTarget->GetLines(iFirstLine, iFrom, iEnd) : nullptr;
    m_bSearching = pSource != nullptr && iEnd > iFrom;
    m_iPercent = m_bSearching ? 0 : 100;
    emit Progress();
    if (!m_bSearching)
        return;
    m_iSearchFrom = iFirstLine;
    QPointer<CMatchIndex> pThis(this);
    auto pPending = m_pPending = std::make_shared<CPending>();
    m_search.Start(
        std::move(pSource), iFrom, iEnd, iFirstLine, m_pattern,
        [pThis, pPending](std::vector<CFoundLine>&& batch, const CSearchProgress& progress)
        {
            std::lock_guard lock(pPending->lock);
            pPending->lines.insert(pPending->lines.end(), batch.begin(), batch.end());
            pPending->progress = progress;
            if (std::exchange(pPending->bAsked, true))
                return;
            QMetaObject::invokeMethod(
                pThis,
                [pThis, pPending]
                {
                    if (pThis)
                        pThis->OnResults(pPending);
                },
                Qt::QueuedConnection);
        });
}

void CMatchIndex::OnResults(const std::shared_ptr<CPending>& pPending)
{
    if (pPending != m_pPending)
        return;
    std::vector<CFoundLine> batch;
    CSearchProgress progress;
    {
        std::lock_guard lock(pPending->lock);
        batch = std::exchange(pPending->lines, {});
        progress = pPending->progress;
        pPending->bAsked = false;
    }
    const size_t iFirst = m_lines.size();
    for (const CFoundLine& line : batch)
    {
        m_iMatches += line.iMatches;
        if (m_lines.size() < MAX_LISTED_LINES)
            m_lines.push_back(line);
        else if (m_iFirstUnlisted < 0)
            m_iFirstUnlisted = line.iLine;
    }
    m_iPercent = progress.iBytesTotal > 0
                     ? static_cast<int>(progress.iBytesDone * 100 / progress.iBytesTotal)
                     : 100;
    if (progress.bDone)
        m_bSearching = false;
    if (m_lines.size() > iFirst)
        emit Appended(iFirst);
    emit Progress();
    if (progress.bDone && m_iPendingFrom >= 0)
        OnLinesChanged(m_iPendingFrom);
}
