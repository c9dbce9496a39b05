// SPDX-License-Identifier: MIT
// The log view's search pattern and its index of matching lines.

#include "logsearch.h"

#include <QTextBlock>
#include <QTextDocument>

CLogPattern::CLogPattern(const QString& text, bool bCaseSensitive, bool bRegularExpression)
    : m_text(text), m_bRegex(bRegularExpression),
      m_case(bCaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive)
{
    if (m_bRegex)
        m_regex.setPattern(text);
    if (m_bRegex && !bCaseSensitive)
        m_regex.setPatternOptions(QRegularExpression::CaseInsensitiveOption);
}

QString CLogPattern::GetError() const
{
    return m_bRegex && !IsEmpty() && !m_regex.isValid() ? m_regex.errorString() : QString();
}

void CLogPattern::ForEachMatch(const QString& line, const std::function<void(int, int)>& f) const
{
    if (!IsValid())
        return;
    if (!m_bRegex)
    {
        for (qsizetype i = line.indexOf(m_text, 0, m_case); i >= 0;
             i = line.indexOf(m_text, i + m_text.size(), m_case))
            f(static_cast<int>(i), static_cast<int>(m_text.size()));
        return;
    }
    for (auto it = m_regex.globalMatch(line); it.hasNext();)
    {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength() > 0)
            f(static_cast<int>(match.capturedStart()), static_cast<int>(match.capturedLength()));
    }
}

int CLogPattern::CountIn(const QString& line) const
{
    int n = 0;
    ForEachMatch(line, [&n](int, int) { ++n; });
    return n;
}

bool CLogPattern::operator==(const CLogPattern& other) const
{
    return m_text == other.m_text && m_bRegex == other.m_bRegex && m_case == other.m_case;
}

CMatchIndex::CMatchIndex(QTextDocument* pDocument, QObject* pParent)
    : QObject(pParent), m_pDocument(pDocument)
{
    // A pause before a rebuild: a large read puts its text in piece by piece, and a flood of
    // edits needs one rebuild, not one for each.
    m_rebuild.setSingleShot(true);
    m_rebuild.setInterval(100);
    connect(&m_rebuild, &QTimer::timeout, this, &CMatchIndex::Rebuild);
    connect(pDocument, &QTextDocument::contentsChange, this, &CMatchIndex::OnContentsChange);
}

// Built on the next turn of the event loop: the view paints the new pattern's highlights
// first, and a pattern typed letter by letter is looked for once.
void CMatchIndex::SetPattern(const CLogPattern& pattern)
{
    m_pattern = pattern;
    m_lines.clear();
    m_iMatches = 0;
    m_iScannedLines = 0;
    emit Rebuilt();
    m_rebuild.start(0);
}

void CMatchIndex::Flush()
{
    if (m_rebuild.isActive())
        Rebuild();
}

void CMatchIndex::OnContentsChange(int iPosition, int iRemoved, int iAdded)
{
    if (!m_pattern.IsValid())
        return;
    // All the text replaced (a clear, or the text limit's new batch): rebuilt at once, so that
    // the lines that follow it are looked at as they come.
    if (iPosition == 0 && iAdded >= m_pDocument->characterCount() - 1)
    {
        Rebuild();
        return;
    }
    if (m_rebuild.isActive())
        return;
    // Text added at the end: only the last line seen and the ones after it are looked at, and
    // the last line only when it had no match (it may have been half written).
    const int iLine = m_pDocument->findBlock(iPosition).blockNumber();
    const bool bAppended = iRemoved == 0 && iLine >= m_iScannedLines - 1 &&
                           (m_lines.empty() || m_lines.back().iLine < iLine);
    if (!bAppended)
    {
        m_rebuild.start();
        return;
    }
    const size_t iFirst = m_lines.size();
    ScanFrom(iLine);
    if (m_lines.size() > iFirst)
        emit Appended(iFirst);
}

void CMatchIndex::Rebuild()
{
    m_rebuild.stop();
    m_rebuild.setInterval(100);
    m_lines.clear();
    m_iMatches = 0;
    m_iScannedLines = 0;
    if (m_pattern.IsValid())
        ScanFrom(0);
    emit Rebuilt();
}

void CMatchIndex::ScanFrom(int iLine)
{
    for (QTextBlock block = m_pDocument->findBlockByNumber(iLine); block.isValid();
         block = block.next())
    {
        if (const int n = m_pattern.CountIn(block.text()))
        {
            m_lines.push_back({block.blockNumber(), n});
            m_iMatches += n;
        }
    }
    m_iScannedLines = m_pDocument->blockCount();
}

int CMatchIndex::GetMatchNumberAt(int iPosition) const
{
    const QTextBlock at = m_pDocument->findBlock(iPosition);
    int iBefore = 0;
    for (const Line& line : m_lines)
    {
        if (line.iLine > at.blockNumber())
            return iBefore + 1;
        if (line.iLine == at.blockNumber())
        {
            int iNumber = 0;
            m_pattern.ForEachMatch(at.text(),
                                   [&](int iStart, int)
                                   {
                                       if (!iNumber && at.position() + iStart >= iPosition)
                                           iNumber = iBefore + 1;
                                       if (!iNumber)
                                           ++iBefore;
                                   });
            if (iNumber)
                return iNumber;
            continue;
        }
        iBefore += line.iMatches;
    }
    return 0;
}
