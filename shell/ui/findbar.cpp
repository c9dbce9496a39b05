// SPDX-License-Identifier: MIT
// The log view's find bar.

#include "findbar.h"

#include "highlighting.h"
#include "zelbinview.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextBlock>
#include <QToolButton>

QToolButton* AddBarButton(QHBoxLayout* pLayout, QWidget* pParent, const QString& text,
                          const QString& tip, bool bCheckable)
{
    auto* pButton = new QToolButton(pParent);
    pButton->setText(text);
    pButton->setToolTip(tip);
    pButton->setAccessibleName(tip);
    pButton->setCheckable(bCheckable);
    pButton->setAutoRaise(true);
    pLayout->addWidget(pButton);
    return pButton;
}

CFindBar::CFindBar(CZelbinView* pView, QWidget* pParent)
    : QWidget(pParent), m_pTarget(pView->GetSearchTarget()), m_pEdit(new QLineEdit(this)),
      m_pCount(new QLabel(this))
{
    setObjectName(QStringLiteral("findBar"));
    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(4, 2, 4, 2);
    auto* pLabel = new QLabel(QStringLiteral("Fi&nd:"), this);
    pLabel->setBuddy(m_pEdit);
    pLayout->addWidget(pLabel);
    m_pEdit->setClearButtonEnabled(true);
    pLayout->addWidget(m_pEdit, 1);
    m_pCase = AddBarButton(pLayout, this, QStringLiteral("Aa"), QStringLiteral("Match case"), true);
    m_pRegex = AddBarButton(pLayout, this, QStringLiteral(".*"),
                            QStringLiteral("Regular expression"), true);
    QToolButton* pPrevious = AddBarButton(pLayout, this, QStringLiteral("\u2191"),
                                          QStringLiteral("Find previous (Shift+F3)"), false);
    QToolButton* pNext = AddBarButton(pLayout, this, QStringLiteral("\u2193"),
                                      QStringLiteral("Find next (F3)"), false);
    pLayout->addWidget(m_pCount);
    QToolButton* pClose =
        AddBarButton(pLayout, this, QStringLiteral("\u00d7"), QStringLiteral("Close"), false);

    connect(m_pEdit, &QLineEdit::textChanged, this, &CFindBar::OnPatternChanged);
    connect(m_pCase, &QToolButton::toggled, this, &CFindBar::OnPatternChanged);
    connect(m_pRegex, &QToolButton::toggled, this, &CFindBar::OnPatternChanged);
    connect(m_pEdit, &QLineEdit::returnPressed, this, &CFindBar::FindNext);
    connect(pNext, &QToolButton::clicked, this, &CFindBar::FindNext);
    connect(pPrevious, &QToolButton::clicked, this, &CFindBar::FindPrevious);
    connect(pClose, &QToolButton::clicked, this, &CFindBar::Close);
    // The selected match may be gone with the text that held it, or have a new number.
    connect(&m_index, &CMatchIndex::Rebuilt, this, &CFindBar::UpdateCurrent);
    connect(&m_index, &CMatchIndex::Progress, this, &CFindBar::UpdateCurrent);
    m_index.SetTarget(m_pTarget);
    UpdateCount();
    hide();
}

void CFindBar::SetTarget(CSearchTarget* pTarget)
{
    if (pTarget == m_pTarget)
        return;
    m_pTarget->SetFindPattern(CLogPattern());
    m_pTarget = pTarget;
    m_pTarget->SetFindPattern(isHidden() ? CLogPattern() : m_index.GetPattern());
    m_iCurrent = 0;
    m_index.SetTarget(pTarget);
}

void CFindBar::Open()
{
    const QString selected = m_pTarget->GetSelectionOnOneLine();
    if (!selected.isEmpty())
        m_pEdit->setText(selected);
    show();
    m_pEdit->setFocus();
    m_pEdit->selectAll();
    OnPatternChanged(); // a pattern kept from before is searched in this document
}

void CFindBar::Close()
{
    hide();
    m_pTarget->SetFindPattern(CLogPattern());
    m_index.SetPattern(CLogPattern());
    m_pTarget->GetWidget()->setFocus();
}

void CFindBar::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Escape && m_index.IsSearching())
        m_index.Cancel();
    else if (pEvent->key() == Qt::Key_Escape)
        Close();
    else if (pEvent->key() == Qt::Key_Return && (pEvent->modifiers() & Qt::ShiftModifier))
        FindPrevious();
    else
        QWidget::keyPressEvent(pEvent);
}

void CFindBar::OnPatternChanged()
{
    const CLogPattern pattern =
        MakeLogPattern(m_pEdit->text(), m_pCase->isChecked(), m_pRegex->isChecked());
    if (pattern == m_index.GetPattern() && !m_index.WasStopped())
        return;
    m_pTarget->SetFindPattern(pattern);
    m_iCurrent = 0;
    m_index.SetPattern(pattern);
    const QString error = QString::fromStdString(pattern.GetError());
    m_pEdit->setToolTip(error);
    // A pattern that does not compile turns the field red, in the palette's own red.
    QPalette palette = this->palette();
    if (!error.isEmpty())
        palette.setColor(QPalette::Base,
                         ResolveHighlightColour(QStringLiteral("Red"), palette, true));
    m_pEdit->setPalette(palette);
    UpdateCount();
}

bool CFindBar::FindNext()
{
    return Find(false);
}

bool CFindBar::FindPrevious()
{
    return Find(true);
}

bool CFindBar::Find(bool bBackward)
{
    const std::vector<CFoundLine>& lines = m_index.GetLines();
    const CLogPattern& pattern = m_index.GetPattern();
    int64_t iLine = m_pTarget->GetCurrentLine();
    const auto at = std::lower_bound(lines.begin(), lines.end(), iLine,
                                     [](const CFoundLine& l, int64_t i) { return l.iLine < i; });
    // In the current line first, after (or before) the selection.
    int iOrdinal = at != lines.end() && at->iLine == iLine
                       ? m_pTarget->SelectMatchIn(iLine, pattern, bBackward, false)
                       : 0;
    if (!iOrdinal && !lines.empty())
    {
        // Then the next (or previous) listed line, going round the end.
        auto next = at != lines.end() && at->iLine == iLine ? at + 1 : at;
        if (bBackward)
            next = at == lines.begin() ? lines.end() - 1 : at - 1;
        else if (next == lines.end())
            next = lines.begin();
        iLine = next->iLine;
        iOrdinal = m_pTarget->SelectMatchIn(iLine, pattern, bBackward, true);
    }
    m_iCurrent = iOrdinal ? m_index.GetMatchNumber(iLine, iOrdinal) : 0;
    UpdateCount();
    return iOrdinal > 0;
}

QString CFindBar::GetCountText() const
{
    return m_pCount->text();
}

void CFindBar::UpdateCurrent()
{
    int64_t iLine = 0;
    const int iOrdinal = m_pTarget->GetSelectedMatch(m_index.GetPattern(), iLine);
    m_iCurrent = iOrdinal ? m_index.GetMatchNumber(iLine, iOrdinal) : 0;
    UpdateCount();
}

void CFindBar::UpdateCount()
{
    const CLogPattern& pattern = m_index.GetPattern();
    const QString count = GroupedNumber(m_index.GetMatchCount());
    if (pattern.IsTooComplex())
        m_pCount->setText(QStringLiteral("Too complex an expression"));
    else if (!pattern.GetError().empty())
        m_pCount->setText(QStringLiteral("Not a regular expression"));
    else if (pattern.IsEmpty())
        m_pCount->clear();
    else if (m_index.IsSearching())
        m_pCount->setText(QStringLiteral("%1 so far\u2026").arg(count));
    else if (m_index.WasStopped())
        m_pCount->setText(QStringLiteral("%1 so far (stopped)").arg(count));
    else if (m_iCurrent > 0)
        m_pCount->setText(QStringLiteral("%1 of %2").arg(GroupedNumber(m_iCurrent), count));
    else
        m_pCount->setText(m_index.GetMatchCount() == 1 ? QStringLiteral("1 match")
                                                       : QStringLiteral("%1 matches").arg(count));
}
