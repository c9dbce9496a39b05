// SPDX-License-Identifier: MIT
// Find and filter in the window: what they search (the live log's view or an opened file, behind
// one interface) and the list of lines that match a pattern, built on a worker thread and kept
// right while the text changes. The find bar and the filter pane both build on it.
#pragma once

#include "linesearch.h"
#include "logpattern.h"

#include <QObject>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A pattern typed into a field.
CLogPattern MakeLogPattern(const QString& text, bool bCaseSensitive, bool bRegularExpression);
// The pattern's matches in a line of text, as positions in it.
void ForEachMatchIn(const CLogPattern& pattern, const QString& line,
                    const std::function<void(int iStart, int iLength)>& f);
// "1 203 567": counts read at a glance.
QString GroupedNumber(int64_t n);

// A document that find and filter work on.
class CSearchTarget : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // The lines from iFirstLine on, for a search: their source and the byte range they fill.
    virtual std::shared_ptr<const ILineSource> GetLines(int64_t iFirstLine, int64_t& iFrom,
                                                        int64_t& iEnd) = 0;
    // A line as shown (a long one cut), for the filter pane's rows.
    virtual QString GetLineText(int64_t iLine) const = 0;
    // The find bar's pattern: its matches in view are highlighted.
    virtual void SetFindPattern(const CLogPattern& pattern) = 0;
    // The line of the caret or of the selection's start.
    virtual int64_t GetCurrentLine() const = 0;
    // Selects a match in the line: the first after the selection (the last before it when going
    // backward), or with bAnywhere the first (last) of the line. Its number in the line (from 1),
    // or 0 when there is none.
    virtual int SelectMatchIn(int64_t iLine, const CLogPattern& pattern, bool bBackward,
                              bool bAnywhere) = 0;
    // The number in its line (from 1) of the match that the selection is; 0 when it is none.
    virtual int GetSelectedMatch(const CLogPattern& pattern, int64_t& iLine) const = 0;
    virtual void GoToLine(int64_t iLine) = 0;
    // The selection when it lies on one line (the find bar's first pattern); empty otherwise.
    virtual QString GetSelectionOnOneLine() const = 0;
    // The widget that shows the lines (the focus goes back to it).
    virtual QWidget* GetWidget() const = 0;

signals:
    // The lines from this one on are new or have changed.
    void LinesChanged(qint64 iFirstLine);
};

// The target's lines that match a pattern, with their number of matches. A search runs on a
// worker thread; its results come in batches. A change of the text searches again from the first
// changed line (a change before the search's start starts it over).
class CMatchIndex : public QObject
{
    Q_OBJECT
public:
    // At most this many lines are listed (16 bytes each); matches beyond are still counted.
    static constexpr size_t MAX_LISTED_LINES = 1000000;

    explicit CMatchIndex(QObject* pParent = nullptr) : QObject(pParent) {}
    ~CMatchIndex() override;
    void SetTarget(CSearchTarget* pTarget);
    CSearchTarget* GetTarget() const { return m_pTarget; }
    void SetPattern(const CLogPattern& pattern);
    const CLogPattern& GetPattern() const { return m_pattern; }
    const std::vector<CFoundLine>& GetLines() const { return m_lines; }
    int64_t GetMatchCount() const { return m_iMatches; }
    bool IsSearching() const { return m_bSearching; }
    bool WasStopped() const { return m_bStopped; }
    int GetPercent() const { return m_iPercent; }
    // Stops the search under way; what was found so far stays.
    void Cancel();
    // The number (from 1) of the iOrdinal-th match of a listed line; 0 when the line is not listed.
    int64_t GetMatchNumber(int64_t iLine, int iOrdinal) const;

signals:
    // The list was emptied or cut: every row may have changed.
    void Rebuilt();
    // Lines from this index on in GetLines() are new.
    void Appended(size_t iFirst);
    // The count or the progress changed.
    void Progress();

private:
    void OnLinesChanged(int64_t iFirstLine);
    // What a search has found and the window has not taken yet: the worker adds to it, and asks
    // the window to take it only when it is not asked already, so that however far the window
    // falls behind, one event takes all that waits.
    struct CPending
    {
        std::mutex lock;
        std::vector<CFoundLine> lines;
        CSearchProgress progress;
        bool bAsked = false;
    };
    void StartSearch(int64_t iFirstLine);
    void OnResults(const std::shared_ptr<CPending>& pPending);

    CSearchTarget* m_pTarget = nullptr;
    CLogPattern m_pattern;
    std::vector<CFoundLine> m_lines;
    int64_t m_iMatches = 0;        // all matches counted, listed or not
    int64_t m_iFirstUnlisted = -1; // the first matching line beyond the list; -1: none
    int64_t m_iSearchFrom = 0;     // the line the search under way began at
    int64_t m_iPendingFrom = -1;   // changed while it ran: search again from here
    bool m_bSearching = false;
    bool m_bStopped = false;
    int m_iPercent = 100;
    std::shared_ptr<CPending> m_pPending; // the search under way's; results of others are dropped
    CLineSearch m_search;
};
