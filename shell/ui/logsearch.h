// SPDX-License-Identifier: MIT
// Searching the log view's text: a pattern (plain text or a regular expression, with or without
// case) and an index of the lines that match it, kept right while the view's text changes. The
// find bar and the filter pane both build on them; neither needs a widget.
#pragma once

#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class QTextDocument;

class CLogPattern
{
public:
    CLogPattern() = default;
    CLogPattern(const QString& text, bool bCaseSensitive, bool bRegularExpression);

    // An empty pattern, or a regular expression that does not compile, matches nothing.
    bool IsEmpty() const { return m_text.isEmpty(); }
    bool IsValid() const { return !IsEmpty() && (!m_bRegex || m_regex.isValid()); }
    QString GetError() const;
    // Calls back with every match in the line, left to right; matches of no length are skipped
    // (a pattern like "x*" would otherwise match between every two characters).
    void ForEachMatch(const QString& line,
                      const std::function<void(int start, int length)>& f) const;
    int CountIn(const QString& line) const;
    bool operator==(const CLogPattern& other) const;

private:
    QString m_text;
    bool m_bRegex = false;
    Qt::CaseSensitivity m_case = Qt::CaseInsensitive;
    QRegularExpression m_regex;
};

// The view's lines that match a pattern, as line numbers (from 0) with their number of matches.
// Lines added at the end are looked at as they come; any other change (a clear, the text limit,
// an edit, a large read's earlier pieces) rebuilds the index shortly after, once.
class CMatchIndex : public QObject
{
    Q_OBJECT
public:
    struct Line
    {
        int iLine;
        int iMatches;
    };

    explicit CMatchIndex(QTextDocument* pDocument, QObject* pParent = nullptr);
    void SetPattern(const CLogPattern& pattern);
    const CLogPattern& GetPattern() const { return m_pattern; }
    const std::vector<Line>& GetLines() const { return m_lines; }
    int GetMatchCount() const { return m_iMatches; }
    // The number, from 1, of the first match at or after this position; 0 when there is none.
    int GetMatchNumberAt(int iPosition) const;
    // Brings the index up to date at once, instead of after the pause.
    void Flush();

signals:
    // The index was built anew: every line number may have changed.
    void Rebuilt();
    // Lines from this index on in GetLines() are new, at the end of the text.
    void Appended(size_t iFirst);

private:
    void OnContentsChange(int iPosition, int iRemoved, int iAdded);
    void Rebuild();
    void ScanFrom(int iLine);

    QTextDocument* m_pDocument;
    CLogPattern m_pattern;
    std::vector<Line> m_lines;
    int m_iMatches = 0;
    int m_iScannedLines = 0; // lines before this are in the index
    QTimer m_rebuild;
};
