// SPDX-License-Identifier: MIT
// Highlight rules, their colours, their settings, the highlighter and the dialog.

#include "highlighting.h"
#include "logsearch.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

namespace
{
struct CTone
{
    const char* name;
    int iHue; // -1: grey
};
constexpr CTone TONES[] = {{"Red", 0},    {"Orange", 30},  {"Green", 120},
                           {"Blue", 215}, {"Purple", 280}, {"Grey", -1}};

struct CRole
{
    const char* name;
    QPalette::ColorRole role;
};
constexpr CRole ROLES[] = {{"Text", QPalette::Text},
                           {"Base", QPalette::Base},
                           {"Alternate base", QPalette::AlternateBase},
                           {"Highlight", QPalette::Highlight},
                           {"Highlighted text", QPalette::HighlightedText},
                           {"Link", QPalette::Link},
                           {"Visited link", QPalette::LinkVisited},
                           {"Placeholder text", QPalette::PlaceholderText}};

const QString KEY = QStringLiteral("Highlighting");
} // namespace

QStringList HighlightColourNames()
{
    QStringList names{QString()};
    for (const CTone& tone : TONES)
        names << QString::fromLatin1(tone.name);
    for (const CRole& role : ROLES)
        names << QString::fromLatin1(role.name);
    return names;
}

QColor ResolveHighlightColour(const QString& name, const QPalette& palette, bool bBackground)
{
    for (const CRole& role : ROLES)
        if (name == QLatin1String(role.name))
            return palette.color(role.role);
    // A tone is light on a dark base and dark on a light one; as a background it stays close to
    // the base, so that the text on it keeps its contrast.
    const bool bDark = palette.color(QPalette::Base).lightness() < 128;
    for (const CTone& tone : TONES)
        if (name == QLatin1String(tone.name))
        {
            const int iSaturation = tone.iHue < 0 ? 0 : (bBackground ? 140 : 200);
            const int iLightness = bBackground ? (bDark ? 60 : 225) : (bDark ? 175 : 85);
            return QColor::fromHsl(std::max(tone.iHue, 0), iSaturation, iLightness);
        }
    return QColor();
}

std::vector<CHighlightRule> DefaultHighlightRules()
{
    // The service writes "date time CATEGORY text".
    return {{QStringLiteral("(?i)\\b(error|failed|cannot)\\b"), QStringLiteral("Red"), QString()},
            {QStringLiteral("^\\S+ \\S+ RAW "), QStringLiteral("Blue"), QString()},
            {QStringLiteral("^\\S+ \\S+ PROCESSED "), QStringLiteral("Green"), QString()},
            {QStringLiteral("^\\S+ \\S+ DEBUG "), QStringLiteral("Purple"), QString()},
            {QStringLiteral("^\\S+ \\S+ VERBOSE "), QStringLiteral("Placeholder text"), QString()}};
}

std::vector<CHighlightRule> LoadHighlightRules(QSettings& settings, QString* pIgnored)
{
    if (pIgnored)
        pIgnored->clear();
    if (!settings.childGroups().contains(KEY))
        return DefaultHighlightRules();
    std::vector<CHighlightRule> rules;
    // The count is the file's word: only as many rules as are read are believed.
    const int n = settings.beginReadArray(KEY);
    int iLong = 0;
    for (int i = 0; i < std::min(n, MAX_HIGHLIGHT_RULES); ++i)
    {
        settings.setArrayIndex(i);
        const QString pattern = settings.value(QStringLiteral("pattern")).toString();
        if (pattern.size() > MAX_HIGHLIGHT_PATTERN)
        {
            ++iLong;
            continue;
        }
        rules.push_back({pattern, settings.value(QStringLiteral("foreground")).toString(),
                         settings.value(QStringLiteral("background")).toString()});
    }
    settings.endArray();
    QStringList ignored;
    if (n > MAX_HIGHLIGHT_RULES)
        ignored << QStringLiteral("%1 rules after the first %2")
                       .arg(n - MAX_HIGHLIGHT_RULES)
                       .arg(MAX_HIGHLIGHT_RULES);
    if (iLong > 0)
        ignored << QStringLiteral("%1 with a pattern over %2 characters")
                       .arg(iLong)
                       .arg(MAX_HIGHLIGHT_PATTERN);
    if (pIgnored && !ignored.isEmpty())
        *pIgnored =
            QStringLiteral("Highlighting: ignored ") + ignored.join(QStringLiteral(" and "));
    return rules;
}

void SaveHighlightRules(QSettings& settings, const std::vector<CHighlightRule>& rules)
{
    settings.remove(KEY);
    settings.beginWriteArray(KEY, static_cast<int>(rules.size()));
    for (int i = 0; i < static_cast<int>(rules.size()); ++i)
    {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("pattern"), rules[static_cast<size_t>(i)].pattern);
        settings.setValue(QStringLiteral("foreground"), rules[static_cast<size_t>(i)].foreground);
        settings.setValue(QStringLiteral("background"), rules[static_cast<size_t>(i)].background);
    }
    settings.endArray();
    // An empty array leaves no group behind: a marker says that the list was saved.
    settings.setValue(KEY + QStringLiteral("/saved"), true);
}

void CHighlightScheme::SetRules(const std::vector<CHighlightRule>& rules, const QPalette& palette)
{
    std::vector<CLogPattern> patterns;
    m_formats.clear();
    m_patterns.clear();
    for (const CHighlightRule& rule : rules)
    {
        CLogPattern pattern = MakeLogPattern(rule.pattern, true, true);
        if (!pattern.IsValid())
            continue;
        QTextCharFormat format;
        if (const QColor c = ResolveHighlightColour(rule.foreground, palette, false); c.isValid())
            format.setForeground(c);
        if (const QColor c = ResolveHighlightColour(rule.background, palette, true); c.isValid())
            format.setBackground(c);
        patterns.push_back(std::move(pattern));
        m_formats.push_back(format);
        m_patterns.push_back(rule.pattern);
    }
    m_matcher.SetRules(std::move(patterns));
}

const QTextCharFormat* CHighlightScheme::FormatOf(const QString& line)
{
    if (m_formats.empty())
        return nullptr;
    const QByteArray bytes = line.left(64 * 1024).toUtf8();
    const int i = m_matcher.FirstMatch(
        std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    for (const size_t iOff : m_matcher.TakeTurnedOff())
        if (onRuleTurnedOff)
            onRuleTurnedOff(
                QStringLiteral(
                    "Highlighting: the rule \"%1\" is turned off: it took too long on a line")
                    .arg(m_patterns[iOff]));
    return i < 0 ? nullptr : &m_formats[static_cast<size_t>(i)];
}

CLogHighlighter::CLogHighlighter(QPlainTextEdit* pView, std::shared_ptr<CHighlightScheme> pScheme)
    : QSyntaxHighlighter(pView->document()), m_pView(pView), m_pScheme(std::move(pScheme))
{
    connect(pView, &QPlainTextEdit::updateRequest, this, &CLogHighlighter::ColourLinesInView);
}

// The lines in view when it was last painted, and a few around them.
bool CLogHighlighter::IsNearView(const QTextBlock& block) const
{
    return block.blockNumber() >= m_iFirstInView - 8 &&
           block.blockNumber() <= m_iFirstInView + m_iLinesInView + 8;
}

// Lines that came into view uncoloured are coloured now.
void CLogHighlighter::ColourLinesInView()
{
    QTextBlock block = m_pView->cursorForPosition(QPoint(0, 0)).block();
    m_iFirstInView = block.blockNumber();
    m_iLinesInView = m_pView->viewport()->height() / m_pView->fontMetrics().lineSpacing();
    for (int i = 0; i <= m_iLinesInView && block.isValid() && !m_pScheme->IsEmpty();
         ++i, block = block.next())
        if (block.layout()->formats().isEmpty() && m_pScheme->FormatOf(block.text()))
            rehighlightBlock(block);
}

void CLogHighlighter::highlightBlock(const QString& text)
{
    if (!IsNearView(currentBlock()))
        return; // coloured when it comes into view
    if (const QTextCharFormat* pFormat = m_pScheme->FormatOf(text))
        setFormat(0, static_cast<int>(text.size()), *pFormat);
}

CHighlightingDlg::CHighlightingDlg(const std::vector<CHighlightRule>& rules, QWidget* pParent)
    : QDialog(pParent), m_pTable(new QTableWidget(0, 3, this))
{
    setWindowTitle(QStringLiteral("Highlighting"));
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("Regular expression"),
                                         QStringLiteral("Text"), QStringLiteral("Background")});
    m_pTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto* pAdd = new QPushButton(QStringLiteral("&Add"), this);
    auto* pRemove = new QPushButton(QStringLiteral("&Remove"), this);
    auto* pDefaults = new QPushButton(QStringLiteral("Restore &Defaults"), this);
    connect(pAdd, &QPushButton::clicked, this, [this] { AddRule({}); });
    connect(pRemove, &QPushButton::clicked, this, &CHighlightingDlg::RemoveCurrentRule);
    connect(pDefaults, &QPushButton::clicked, this, &CHighlightingDlg::RestoreDefaults);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CHighlightingDlg::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pEdit = new QHBoxLayout;
    for (QPushButton* pButton : {pAdd, pRemove, pDefaults})
        pEdit->addWidget(pButton);
    pEdit->addStretch();
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(new QLabel(
        QStringLiteral("A line takes the colours of the first rule whose expression it matches."),
        this));
    pLayout->addWidget(m_pTable);
    pLayout->addLayout(pEdit);
    pLayout->addWidget(pButtons);
    resize(560, 320);
    SetRules(rules);
}

void CHighlightingDlg::SetRules(const std::vector<CHighlightRule>& rules)
{
    m_pTable->setRowCount(0);
    for (const CHighlightRule& rule : rules)
        AddRule(rule);
}

void CHighlightingDlg::AddRule(const CHighlightRule& rule)
{
    const int iRow = m_pTable->rowCount();
    m_pTable->insertRow(iRow);
    m_pTable->setItem(iRow, 0, new QTableWidgetItem(rule.pattern));
    int iColumn = 1;
    for (const QString& colour : {rule.foreground, rule.background})
    {
        auto* pChoice = new QComboBox(m_pTable);
        pChoice->addItems(HighlightColourNames());
        pChoice->setItemText(0, QStringLiteral("(none)"));
        pChoice->setCurrentIndex(
            std::max<int>(0, static_cast<int>(HighlightColourNames().indexOf(colour))));
        m_pTable->setCellWidget(iRow, iColumn++, pChoice);
    }
    m_pTable->setCurrentCell(iRow, 0);
}

void CHighlightingDlg::RemoveCurrentRule()
{
    if (m_pTable->currentRow() >= 0)
        m_pTable->removeRow(m_pTable->currentRow());
}

void CHighlightingDlg::RestoreDefaults()
{
    SetRules(DefaultHighlightRules());
}

std::vector<CHighlightRule> CHighlightingDlg::GetRules() const
{
    std::vector<CHighlightRule> rules;
    const QStringList names = HighlightColourNames();
    const auto colour = [&](int iRow, int iColumn)
    {
        return names.value(
            static_cast<QComboBox*>(m_pTable->cellWidget(iRow, iColumn))->currentIndex());
    };
    for (int iRow = 0; iRow < m_pTable->rowCount(); ++iRow)
    {
        const QTableWidgetItem* pItem = m_pTable->item(iRow, 0);
        rules.push_back({pItem ? pItem->text() : QString(), colour(iRow, 1), colour(iRow, 2)});
    }
    return rules;
}

// A rule that does not compile is named before the dialog closes, not left out silently.
void CHighlightingDlg::accept()
{
    for (const CHighlightRule& rule : GetRules())
    {
        if (rule.pattern.isEmpty())
            continue; // left out when applied
        const CLogPattern pattern = MakeLogPattern(rule.pattern, true, true);
        if (!pattern.IsValid() || rule.pattern.size() > MAX_HIGHLIGHT_PATTERN)
        {
            const QString why =
                pattern.IsValid()
                    ? QStringLiteral("longer than %1 characters").arg(MAX_HIGHLIGHT_PATTERN)
                    : QString::fromStdString(pattern.GetError());
            QMessageBox::warning(this, windowTitle(),
                                 QStringLiteral("\"%1\" is no regular expression: %2")
                                     .arg(rule.pattern.left(80), why));
            return;
        }
    }
    QDialog::accept();
}
