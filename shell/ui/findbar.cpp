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
    : QWidget(pParent), m_pView(pView), m_index(pView->document()), m_pEdit(new QLineEdit(this)),
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
    connect(&m_index, &CMatchIndex::Rebuilt, this,
            [this]
            {
                // The selected match may be gone with the text that held it.
                const QTextCursor selection = m_pView->textCursor();
                m_iCurrent = selection.hasSelection()
                                 ? m_index.GetMatchNumberAt(selection.selectionStart())
                                 : 0;
                UpdateCount();
            });
    connect(&m_index, &CMatchIndex::Appended, this, &CFindBar::UpdateCount);
    UpdateCount();
    hide();
}

void CFindBar::Open()
{
    const QString selected = m_pView->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator))
        m_pEdit->setText(selected);
    show();
    m_pEdit->setFocus();
    m_pEdit->selectAll();
}

void CFindBar::Close()
{
    hide();
    m_pView->SetFindPattern(CLogPattern());
    m_index.SetPattern(CLogPattern());
    m_pView->setFocus();
}

void CFindBar::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Escape)
        Close();
    else if (pEvent->key() == Qt::Key_Return && (pEvent->modifiers() & Qt::ShiftModifier))
        FindPrevious();
    else
        QWidget::keyPressEvent(pEvent);
}

void CFindBar::OnPatternChanged()
{
    const CLogPattern pattern(m_pEdit->text(), m_pCase->isChecked(), m_pRegex->isChecked());
    m_pView->SetFindPattern(pattern);
    m_iCurrent = 0;
    m_index.SetPattern(pattern);
    m_pEdit->setToolTip(pattern.GetError());
    // A pattern that does not compile turns the field red, in the palette's own red.
    QPalette palette = this->palette();
    if (!pattern.GetError().isEmpty())
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
    m_index.Flush();
    if (m_index.GetMatchCount() == 0)
    {
        m_iCurrent = 0;
        UpdateCount();
        return false;
    }
    const int iStart = m_pView->SelectMatch(m_index.GetPattern(), bBackward);
    m_iCurrent = iStart < 0 ? 0 : m_index.GetMatchNumberAt(iStart);
    UpdateCount();
    return iStart >= 0;
}

QString CFindBar::GetCountText() const
{
    return m_pCount->text();
}

void CFindBar::UpdateCount()
{
    const CLogPattern& pattern = m_index.GetPattern();
    if (!pattern.GetError().isEmpty())
        m_pCount->setText(QStringLiteral("Not a regular expression"));
    else if (pattern.IsEmpty())
        m_pCount->clear();
    else if (m_iCurrent > 0)
        m_pCount->setText(QStringLiteral("%1 of %2").arg(m_iCurrent).arg(m_index.GetMatchCount()));
    else
        m_pCount->setText(m_index.GetMatchCount() == 1
                              ? QStringLiteral("1 match")
                              : QStringLiteral("%1 matches").arg(m_index.GetMatchCount()));
}
