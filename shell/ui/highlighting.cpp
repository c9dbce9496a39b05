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
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTreeWidget>
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

// The theme's own colours, under the names a user knows them by.
struct CRole
{
    const char* name;
    QPalette::ColorRole role;
};
constexpr CRole ROLES[] = {{"Text (follows the theme)", QPalette::Text},
                           {"Dim text (follows the theme)", QPalette::PlaceholderText},
                           {"Link (follows the theme)", QPalette::Link},
                           {"Selection (follows the theme)", QPalette::Highlight},
                           {"Selected text (follows the theme)", QPalette::HighlightedText},
                           {"Background (follows the theme)", QPalette::Base}};

// Names that saved rules may still carry, and the name each is offered under now.
constexpr std::pair<const char*, const char*> FORMER_NAMES[] = {
    {"Text", "Text (follows the theme)"},
    {"Placeholder text", "Dim text (follows the theme)"},
    {"Link", "Link (follows the theme)"},
    {"Visited link", "Link (follows the theme)"},
    {"Highlight", "Selection (follows the theme)"},
    {"Highlighted text", "Selected text (follows the theme)"},
    {"Base", "Background (follows the theme)"},
    {"Alternate base", "Background (follows the theme)"}};

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

QString CurrentHighlightColourName(const QString& name)
{
    for (const auto& [former, current] : FORMER_NAMES)
        if (name == QLatin1String(former))
            return QString::fromLatin1(current);
    return name;
}

QColor ResolveHighlightColour(const QString& given, const QPalette& palette, bool bBackground)
{
    const QString name = CurrentHighlightColourName(given);
    for (const CRole& role : ROLES)
        if (name == QLatin1String(role.name))
            return palette.color(role.role);
    // A tone is light on a dark base and dark on a light one, at least 4.5:1 from it; as a
    // background it stays close to the base, so that the text on it keeps its contrast.
    const bool bDark = palette.color(QPalette::Base).lightness() < 128;
    for (const CTone& tone : TONES)
        if (name == QLatin1String(tone.name))
        {
            const int iSaturation = tone.iHue < 0 ? 0 : (bBackground ? 140 : 200);
            const int iLightness = bBackground ? (bDark ? 60 : 225) : (bDark ? 175 : 70);
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
            {QStringLiteral("^\\S+ \\S+ VERBOSE "), QStringLiteral("Grey"), QString()}};
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

namespace
{
constexpr int COLOUR_ROLE = Qt::UserRole; // a colour column's name, as the rules keep it

QIcon Swatch(const QString& name, const QPalette& palette, bool bBackground)
{
    QPixmap pixmap(16, 16);
    const QColor colour = ResolveHighlightColour(name, palette, bBackground);
    pixmap.fill(colour.isValid() ? colour : Qt::transparent);
    return QIcon(pixmap);
}

// The colour columns are edited with a list of swatches and plain names.
class CColourDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* pParent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override
    {
        auto* pChoice = new QComboBox(pParent);
        const bool bBackground = index.column() == 2;
        for (const QString& name : HighlightColourNames())
            pChoice->addItem(Swatch(name, pParent->palette(), bBackground),
                             name.isEmpty() ? QStringLiteral("(none)") : name, name);
        return pChoice;
    }
    void setEditorData(QWidget* pEditor, const QModelIndex& index) const override
    {
        auto* pChoice = static_cast<QComboBox*>(pEditor);
        pChoice->setCurrentIndex(std::max(0, pChoice->findData(index.data(COLOUR_ROLE))));
    }
    void setModelData(QWidget* pEditor, QAbstractItemModel* pModel,
                      const QModelIndex& index) const override
    {
        pModel->setData(index, static_cast<QComboBox*>(pEditor)->currentData(), COLOUR_ROLE);
    }
};
} // namespace

CHighlightingDlg::CHighlightingDlg(const std::vector<CHighlightRule>& rules, QWidget* pParent)
    : QDialog(pParent), m_pTable(new QTreeWidget(this))
{
    setWindowTitle(QStringLiteral("Highlighting"));
    m_pTable->setColumnCount(3);
    m_pTable->setHeaderLabels({QStringLiteral("Regular expression"), QStringLiteral("Text"),
                               QStringLiteral("Background")});
    m_pTable->setRootIsDecorated(false);
    m_pTable->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_pTable->header()->setStretchLastSection(false);
    m_pTable->setColumnWidth(1, 200);
    m_pTable->setColumnWidth(2, 200);
    m_pTable->setItemDelegateForColumn(1, new CColourDelegate(m_pTable));
    m_pTable->setItemDelegateForColumn(2, new CColourDelegate(m_pTable));
    m_pTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::SelectedClicked);
    // Rows are dragged into their order; a row never drops into another.
    m_pTable->setDragDropMode(QAbstractItemView::InternalMove);
    m_pTable->setDefaultDropAction(Qt::MoveAction);
    m_pTable->invisibleRootItem()->setFlags(m_pTable->invisibleRootItem()->flags() |
                                            Qt::ItemIsDropEnabled);
    connect(m_pTable->model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles)
            {
                if (roles.isEmpty() || roles.contains(COLOUR_ROLE))
                    for (int row = from.row(); row <= to.row(); ++row)
                        ShowColours(m_pTable->topLevelItem(row));
            });
    auto* pAdd = new QPushButton(QStringLiteral("&Add"), this);
    auto* pRemove = new QPushButton(QStringLiteral("&Remove"), this);
    auto* pUp = new QPushButton(QStringLiteral("Move &Up"), this);
    auto* pDown = new QPushButton(QStringLiteral("Move Do&wn"), this);
    auto* pDefaults = new QPushButton(QStringLiteral("Restore &Defaults"), this);
    connect(pAdd, &QPushButton::clicked, this, &CHighlightingDlg::AddNewRule);
    connect(pRemove, &QPushButton::clicked, this, &CHighlightingDlg::RemoveCurrentRule);
    connect(pUp, &QPushButton::clicked, this, [this] { MoveCurrentRule(-1); });
    connect(pDown, &QPushButton::clicked, this, [this] { MoveCurrentRule(1); });
    connect(pDefaults, &QPushButton::clicked, this, &CHighlightingDlg::RestoreDefaults);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CHighlightingDlg::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pEdit = new QHBoxLayout;
    for (QPushButton* pButton : {pAdd, pRemove, pUp, pDown, pDefaults})
    {
        pButton->setAutoDefault(false); // Enter in an edited cell ends the edit, not the dialog
        pEdit->addWidget(pButton);
    }
    pEdit->addStretch();
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(new QLabel(QStringLiteral("A line takes the colours of the first rule "
                                                 "whose expression it matches: order the rules "
                                                 "with Move Up and Move Down, or drag them."),
                                  this));
    pLayout->addWidget(m_pTable);
    pLayout->addLayout(pEdit);
    pLayout->addWidget(pButtons);
    resize(720, 360);
    SetRules(rules);
}

void CHighlightingDlg::SetRules(const std::vector<CHighlightRule>& rules)
{
    m_pTable->clear();
    for (const CHighlightRule& rule : rules)
        AddRule(rule);
    m_pTable->setCurrentItem(m_pTable->topLevelItem(0));
}

QTreeWidgetItem* CHighlightingDlg::MakeItem(const CHighlightRule& rule)
{
    auto* pItem = new QTreeWidgetItem;
    pItem->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable |
                    Qt::ItemIsDragEnabled);
    pItem->setText(0, rule.pattern);
    pItem->setData(1, COLOUR_ROLE, CurrentHighlightColourName(rule.foreground));
    pItem->setData(2, COLOUR_ROLE, CurrentHighlightColourName(rule.background));
    ShowColours(pItem);
    return pItem;
}

void CHighlightingDlg::ShowColours(QTreeWidgetItem* pItem)
{
    if (!pItem)
        return;
    for (int iColumn : {1, 2})
    {
        const QString name = pItem->data(iColumn, COLOUR_ROLE).toString();
        const QString text = name.isEmpty() ? QStringLiteral("(none)") : name;
        if (pItem->text(iColumn) != text)
            pItem->setText(iColumn, text);
        pItem->setIcon(iColumn, Swatch(name, palette(), iColumn == 2));
    }
}

void CHighlightingDlg::AddRule(const CHighlightRule& rule)
{
    QTreeWidgetItem* pItem = MakeItem(rule);
    m_pTable->addTopLevelItem(pItem);
    m_pTable->setCurrentItem(pItem);
}

// A new rule goes first, so that it wins over the others, and opens for typing.
void CHighlightingDlg::AddNewRule()
{
    QTreeWidgetItem* pItem = MakeItem({});
    m_pTable->insertTopLevelItem(0, pItem);
    m_pTable->setCurrentItem(pItem, 0);
    m_pTable->editItem(pItem, 0);
}

void CHighlightingDlg::MoveCurrentRule(int iStep)
{
    const int iRow = m_pTable->indexOfTopLevelItem(m_pTable->currentItem());
    const int iTo = iRow + iStep;
    if (iRow < 0 || iTo < 0 || iTo >= m_pTable->topLevelItemCount())
        return;
    QTreeWidgetItem* pItem = m_pTable->takeTopLevelItem(iRow);
    m_pTable->insertTopLevelItem(iTo, pItem);
    m_pTable->setCurrentItem(pItem);
}

void CHighlightingDlg::RemoveCurrentRule()
{
    delete m_pTable->currentItem();
}

void CHighlightingDlg::RestoreDefaults()
{
    SetRules(DefaultHighlightRules());
}

std::vector<CHighlightRule> CHighlightingDlg::GetRules() const
{
    std::vector<CHighlightRule> rules;
    for (int iRow = 0; iRow < m_pTable->topLevelItemCount(); ++iRow)
    {
        const QTreeWidgetItem* pItem = m_pTable->topLevelItem(iRow);
        rules.push_back({pItem->text(0), pItem->data(1, COLOUR_ROLE).toString(),
                         pItem->data(2, COLOUR_ROLE).toString()});
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
