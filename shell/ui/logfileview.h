// SPDX-License-Identifier: MIT
// An opened log file, shown read-only in a tab of its own: every line of the file, however large,
// drawn from the file for the lines on screen only, through the line index that a thread builds.
// Line numbers in a gutter; selection and copy of any range up to a limit; it keeps up with a file
// that grows and says when the file shrank, was replaced or deleted. It never receives the
// service's lines.
#pragma once

#include "lineindex.h"
#include "logsearch.h"

#include <QAbstractScrollArea>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

class CHighlightScheme;
class CLogFileView;

// An opened file as find and filter see it.
class CFileSearchTarget : public CSearchTarget
{
    Q_OBJECT
public:
    explicit CFileSearchTarget(CLogFileView* pView);
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
    CLogFileView* m_pView;
};

class CLogFileView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    // A line longer than this many bytes is shown cut, with a mark; it is copied whole.
    static constexpr size_t SHOWN_LINE_BYTES = 10000;
    explicit CLogFileView(std::shared_ptr<CHighlightScheme> pScheme, QWidget* pParent = nullptr);
    ~CLogFileView() override;

    // Opens and starts indexing; false with the reason in GetError().
    bool Open(const QString& path);
    QString GetError() const { return QString::fromStdString(m_index.GetError()); }
    const QString& GetPath() const { return m_path; }
    CLineIndex& GetIndex() { return m_index; }
    CFileSearchTarget* GetSearchTarget() { return &m_target; }

    // A position: a line and a place in its text as shown (UTF-16 units; at or past the end of
    // a cut line means its whole rest).
    struct CPosition
    {
        int64_t iLine = 0;
        int iColumn = 0;
        auto operator<=>(const CPosition&) const = default;
    };
    void SetSelection(CPosition anchor, CPosition position);
    CPosition GetSelectionStart() const { return std::min(m_anchor, m_position); }
    CPosition GetSelectionEnd() const { return std::max(m_anchor, m_position); }
    bool HasSelection() const { return m_anchor != m_position; }
    void SelectAll();
    // Copies the selection to the clipboard, read from the file on a thread of its own; false
    // (and a message) when it is over the limit.
    bool Copy();
    // A copy of more than this many bytes is refused with a message (Save As writes any size);
    // tests set a small limit, so that its boundary costs no copy of 64 MiB.
    void SetCopyLimit(int64_t iBytes) { m_iCopyLimit = iBytes; }
    // The selection's text as it is copied (lines joined by line feeds).
    QString SelectedText() const;

    // The line's text as shown, and whether it is cut.
    QString ShownLine(int64_t iLine, bool* pCut = nullptr) const;
    int64_t GetTopLine() const { return m_iTop; }
    // The lines on screen as shown, joined by line feeds: what a screen reader reads.
    QString TextInView() const;
    int GetRowsInView() const;
    // Where the lines' text begins in the view, right of the gutter, as scrolled.
    int GetTextLeft() const;
    void ScrollToLine(int64_t iLine, bool bCentre);
    bool IsAtEnd() const;
    void SetFindPattern(const CLogPattern& pattern);

signals:
    // Something the status bar says: a file that shrank, was replaced or deleted; a copy refused.
    void Notice(const QString& text);
    // The text was put on the clipboard.
    void Copied();
    void SelectionChanged();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void OnTick();
    void UpdateScrollBars();
    int GutterWidth() const;
    CPosition PositionAt(const QPoint& point) const;
    // The bytes of the selection in the file: from, to.
    bool SelectionBytes(int64_t& iFrom, int64_t& iTo) const;
    void MoveTo(CPosition position, bool bExtend);

    QString m_path;
    CLineIndex m_index;
    CFileSearchTarget m_target{this};
    std::shared_ptr<CHighlightScheme> m_pScheme;
    CLogPattern m_findPattern;
    QTimer m_tick;
    int64_t m_iTop = 0;
    int64_t m_iShownLines = 0; // the scroll range was last set for this many lines
    bool m_bFollowEnd = false; // the end was in view when the file grew
    int64_t m_iGrewFrom = -1;  // the file grew: lines from this one on are new once indexed
    bool m_bDeletedTold = false;
    CPosition m_anchor, m_position;
    std::thread m_copier;
    int64_t m_iCopyLimit = 64 * 1024 * 1024;
};
