// SPDX-License-Identifier: MIT
// Highlight rules, their colours, their settings, the highlighter and the dialog.

#include "highlighting.h"

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

std::vector<CHighlightRule> LoadHighlightRules(QSettings& settings)
{
    if (!settings.childGroups().contains(KEY))
        return DefaultHighlightRules();
    std::vector<CHighlightRule> rules;
    const int n = settings.beginReadArray(KEY);
    for (int i = 0; i < n; ++i)
    {
        settings.setArrayIndex(i);
        rules.push_back({settings.value(QStringLiteral("pattern")).toString(),
                         settings.value(QStringLiteral("foreground")).toString(),
                         settings.value(QStringLiteral("background")).toString()});
    }
    settings.endArray();
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

CLogHighlighter::CLogHighlighter(QPlainTextEdit* pView)
    : QSyntaxHighlighter(pView->document()), m_pView(pView)
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
    for (int i = 0; i <= m_iLinesInView && block.isValid() && !m_rules.empty();
         ++i, block = block.next())
        if (block.layout()->formats().isEmpty() && FormatOf(block.text()))
            rehighlightBlock(block);
}

const QTextCharFormat* CLogHighlighter::FormatOf(const QString& text) const
{
    for (const CCompiled& rule : m_rules)
        if (rule.expression.match(text).hasMatch())
            return &rule.format;
    return nullptr;
}

void CLogHighlighter::SetRules(const std::vector<CHighlightRule>& rules, const QPalette& palette)
{
    m_rules.clear();
    for (const CHighlightRule& rule : rules)
    {
        QRegularExpression expression(rule.pattern);
        if (rule.pattern.isEmpty() || !expression.isValid())
            continue;
        QTextCharFormat format;
        if (const QColor c = ResolveHighlightColour(rule.foreground, palette, false); c.isValid())
            format.setForeground(c);
        if (const QColor c = ResolveHighlightColour(rule.background, palette, true); c.isValid())
            format.setBackground(c);
        m_rules.push_back({std::move(expression), format});
    }
    rehighlight();
}

void CLogHighlighter::highlightBlock(const QString& text)
{
    if (!IsNearView(currentBlock()))
        return; // coloured when it comes into view
    if (const QTextCharFormat* pFormat = FormatOf(text))
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
        const QRegularExpression expression(rule.pattern);
        if (!expression.isValid())
        {
            QMessageBox::warning(this, windowTitle(),
                                 QStringLiteral("\"%1\" is no regular expression: %2")
                                     .arg(rule.pattern, expression.errorString()));
            return;
        }
    }
    QDialog::accept();
}
