// SPDX-License-Identifier: MIT
// The filter pane and its list model.

#include "filterpane.h"

#include "findbar.h"
#include "zelbinview.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

CFilterModel::CFilterModel(const CMatchIndex& index, QTextDocument* pDocument, QObject* pParent)
    : QAbstractListModel(pParent), m_index(index), m_pDocument(pDocument)
{
    connect(&index, &CMatchIndex::Rebuilt, this,
            [this]
            {
                beginResetModel();
                m_iRows = static_cast<int>(m_index.GetLines().size());
                endResetModel();
            });
    connect(&index, &CMatchIndex::Appended, this,
            [this](size_t iFirst)
            {
                const int iLast = static_cast<int>(m_index.GetLines().size()) - 1;
                beginInsertRows({}, static_cast<int>(iFirst), iLast);
                m_iRows = iLast + 1;
                endInsertRows();
            });
}

int CFilterModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_iRows;
}

int CFilterModel::LineAt(int iRow) const
{
    return iRow >= 0 && iRow < m_iRows ? m_index.GetLines()[static_cast<size_t>(iRow)].iLine : -1;
}

QVariant CFilterModel::data(const QModelIndex& index, int iRole) const
{
    if (iRole != Qt::DisplayRole)
        return {};
    const int iLine = LineAt(index.row());
    return QStringLiteral("%1: %2").arg(iLine + 1).arg(
        m_pDocument->findBlockByNumber(iLine).text());
}

CFilterPane::CFilterPane(CZelbinView* pView, QWidget* pParent)
    : QWidget(pParent), m_pView(pView), m_index(pView->document()),
      m_pModel(new CFilterModel(m_index, pView->document(), this)), m_pEdit(new QLineEdit(this)),
      m_pList(new QListView(this))
{
    setObjectName(QStringLiteral("filterPane"));
    auto* pRow = new QHBoxLayout;
    auto* pLabel = new QLabel(QStringLiteral("&Filter:"), this);
    pLabel->setBuddy(m_pEdit);
    pRow->addWidget(pLabel);
    m_pEdit->setClearButtonEnabled(true);
    m_pEdit->setPlaceholderText(QStringLiteral("Lines that contain\u2026"));
    pRow->addWidget(m_pEdit, 1);
    m_pCase = AddBarButton(pRow, this, QStringLiteral("Aa"), QStringLiteral("Match case"), true);
    m_pRegex =
        AddBarButton(pRow, this, QStringLiteral(".*"), QStringLiteral("Regular expression"), true);
    m_pList->setModel(m_pModel);
    m_pList->setUniformItemSizes(true); // rows of one height: a long list lays out at once
    m_pList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pList->setFont(pView->font());
    m_pList->hide();
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 2, 0, 0);
    pLayout->addLayout(pRow);
    pLayout->addWidget(m_pList, 1);

    connect(m_pEdit, &QLineEdit::textChanged, this, &CFilterPane::OnPatternChanged);
    connect(m_pCase, &QToolButton::toggled, this, &CFilterPane::OnPatternChanged);
    connect(m_pRegex, &QToolButton::toggled, this, &CFilterPane::OnPatternChanged);
    connect(m_pList, &QListView::activated, this,
            [this](const QModelIndex& index) { Activate(index.row()); });
    connect(m_pEdit, &QLineEdit::returnPressed, this,
            [this]
            {
                if (m_pModel->rowCount() > 0)
                    m_pList->setFocus();
            });
    hide();
}

void CFilterPane::Open()
{
    show();
    m_pEdit->setFocus();
    m_pEdit->selectAll();
}

void CFilterPane::Close()
{
    hide();
    m_pView->setFocus();
    emit Closed();
}

void CFilterPane::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Escape)
        Close();
    else
        QWidget::keyPressEvent(pEvent);
}

void CFilterPane::OnPatternChanged()
{
    const CLogPattern pattern(m_pEdit->text(), m_pCase->isChecked(), m_pRegex->isChecked());
    m_pEdit->setToolTip(pattern.GetError());
    m_pList->setVisible(!pattern.IsEmpty());
    m_index.SetPattern(pattern);
}

void CFilterPane::Activate(int iRow)
{
    const int iLine = m_pModel->LineAt(iRow);
    if (iLine >= 0)
        m_pView->GoToLine(iLine);
}
