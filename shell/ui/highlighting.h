// SPDX-License-Identifier: MIT
// Highlight rules for the log view: a line that matches a rule's regular expression takes its
// text and background colours (the first rule that matches wins). Colours are named, not
// fixed: a palette role ("Link") or a tone ("Red") whose lightness follows the palette, so that a
// dark theme stays readable. The rules are kept in the settings; a small dialog edits them.
#pragma once

#include "logpattern.h"

#include <QDialog>
#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <functional>
#include <memory>
#include <vector>

class QSettings;
class QTableWidget;

struct CHighlightRule
{
    QString pattern;
    QString foreground; // a colour name; empty: the view's own
    QString background;
    bool operator==(const CHighlightRule& other) const = default;
};

// "" first (no colour of its own), then the tones, then the palette roles.
QStringList HighlightColourNames();
// An invalid colour for "" and for names it does not know.
QColor ResolveHighlightColour(const QString& name, const QPalette& palette, bool bBackground);

// Rules that help with the service's own lines: errors, then each category's tag.
std::vector<CHighlightRule> DefaultHighlightRules();
// The settings file is read with bounds: the first 100 rules, each pattern of at most 1000
// characters (a rule with a longer one is left out).
inline constexpr int MAX_HIGHLIGHT_RULES = 100;
inline constexpr int MAX_HIGHLIGHT_PATTERN = 1000;
// The saved rules; the defaults when none were ever saved (an empty list saved stays empty).
// What was left out is said in *pIgnored (empty when nothing was).
std::vector<CHighlightRule> LoadHighlightRules(QSettings& settings, QString* pIgnored = nullptr);
void SaveHighlightRules(QSettings& settings, const std::vector<CHighlightRule>& rules);

// The rules compiled with the palette's colours: the live log's highlighter and the opened files'
// views share them. A line is looked at in its first 64 K characters; a rule that takes longer
// than its budget on a line is turned off, and the window is told once.
class CHighlightScheme
{
public:
    void SetRules(const std::vector<CHighlightRule>& rules, const QPalette& palette);
    // The colours of the first rule that matches; none when no rule does.
    const QTextCharFormat* FormatOf(const QString& line);
    bool IsEmpty() const { return m_formats.empty(); }
    void SetBudget(std::chrono::nanoseconds budget) { m_matcher.SetBudget(budget); }
    // Told the text of a rule that was turned off.
    std::function<void(const QString&)> onRuleTurnedOff;

private:
    CFirstMatchRules m_matcher;
    std::vector<QTextCharFormat> m_formats;
    std::vector<QString> m_patterns;
};

// Colours only the lines in view, and those that come into view: a log of millions of lines
// costs what a screenful does, however it arrives (a large read puts its text in by the hundred
// thousand lines).
class CLogHighlighter : public QSyntaxHighlighter
{
public:
    CLogHighlighter(QPlainTextEdit* pView, std::shared_ptr<CHighlightScheme> pScheme);

protected:
    void highlightBlock(const QString& text) override;

private:
    bool IsNearView(const QTextBlock& block) const;
    void ColourLinesInView();

    QPlainTextEdit* m_pView;
    int m_iFirstInView = 0;
    int m_iLinesInView = 100;
    std::shared_ptr<CHighlightScheme> m_pScheme;
};

// View > Highlighting…: the rules as a table of expression, text colour and background.
class CHighlightingDlg : public QDialog
{
    Q_OBJECT
public:
    CHighlightingDlg(const std::vector<CHighlightRule>& rules, QWidget* pParent = nullptr);
    std::vector<CHighlightRule> GetRules() const;
    QTableWidget* GetTable() const { return m_pTable; }
    // Adds a row; the table's current row when none is given.
    void AddRule(const CHighlightRule& rule);
    void RemoveCurrentRule();
    void RestoreDefaults();
    void accept() override;

private:
    void SetRules(const std::vector<CHighlightRule>& rules);

    QTableWidget* m_pTable;
};
