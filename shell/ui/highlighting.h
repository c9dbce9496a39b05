// SPDX-License-Identifier: MIT
// Highlight rules for the log view: a line that matches a rule's regular expression takes its
// text and background colours (the first rule that matches wins). Colours are named, not
// fixed: a palette role ("Link") or a tone ("Red") whose lightness follows the palette, so that a
// dark theme stays readable. The rules are kept in the settings; a small dialog edits them.
#pragma once

#include <QDialog>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

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
// The saved rules; the defaults when none were ever saved (an empty list saved stays empty).
std::vector<CHighlightRule> LoadHighlightRules(QSettings& settings);
void SaveHighlightRules(QSettings& settings, const std::vector<CHighlightRule>& rules);

// Colours only the lines in view, and those that come into view: a log of millions of lines
// costs what a screenful does, however it arrives (a large read puts its text in by the hundred
// thousand lines).
class CLogHighlighter : public QSyntaxHighlighter
{
public:
    explicit CLogHighlighter(QPlainTextEdit* pView);
    // Compiles the rules with the palette's colours and colours the text anew. A rule whose
    // expression does not compile is left out.
    void SetRules(const std::vector<CHighlightRule>& rules, const QPalette& palette);

protected:
    void highlightBlock(const QString& text) override;

private:
    bool IsNearView(const QTextBlock& block) const;
    void ColourLinesInView();
    const QTextCharFormat* FormatOf(const QString& text) const;

    QPlainTextEdit* m_pView;
    int m_iFirstInView = 0;
    int m_iLinesInView = 100;
    struct CCompiled
    {
        QRegularExpression expression;
        QTextCharFormat format;
    };
    std::vector<CCompiled> m_rules;
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
