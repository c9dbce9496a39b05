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

CFilterModel::CFilterModel(const CMatchIndex& index, QObject* pParent)
    : QAbstractListModel(pParent), m_index(index)
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

int64_t CFilterModel::LineAt(int iRow) const
{
    return iRow >= 0 && iRow < m_iRows ? m_index.GetLines()[static_cast<size_t>(iRow)].iLine : -1;
}

QVariant CFilterModel::data(const QModelIndex& index, int iRole) const
{
    const int64_t iLine = LineAt(index.row());
    if (iRole != Qt::DisplayRole || iLine < 0 || !m_index.GetTarget())
        return {};
    return QStringLiteral("%1: %2").arg(iLine + 1).arg(m_index.GetTarget()->GetLineText(iLine));
}

CFilterPane::CFilterPane(CZelbinView* pView, QWidget* pParent)
    : QWidget(pParent), m_pTarget(pView->GetSearchTarget()),
      m_pModel(new CFilterModel(m_index, this)), m_pEdit(new QLineEdit(this)),
      m_pStatus(new QLabel(this)), m_pList(new QListView(this))
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
    pRow->addWidget(m_pStatus);
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
    connect(&m_index, &CMatchIndex::Progress, this, &CFilterPane::UpdateStatus);
    m_index.SetTarget(m_pTarget);
    hide();
}

void CFilterPane::SetTarget(CSearchTarget* pTarget)
{
    m_pTarget = pTarget;
    m_index.SetTarget(pTarget);
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
    m_index.Cancel();
    m_pTarget->GetWidget()->setFocus();
    emit Closed();
}

void CFilterPane::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Escape && m_index.IsSearching())
        m_index.Cancel();
    else if (pEvent->key() == Qt::Key_Escape)
        Close();
    else
        QWidget::keyPressEvent(pEvent);
}

void CFilterPane::OnPatternChanged()
{
    const CLogPattern pattern =
        MakeLogPattern(m_pEdit->text(), m_pCase->isChecked(), m_pRegex->isChecked());
    m_pEdit->setToolTip(QString::fromStdString(pattern.GetError()));
    m_pList->setVisible(!pattern.IsEmpty());
    m_index.SetPattern(pattern);
}

QString CFilterPane::GetStatusText() const
{
    return m_pStatus->text();
}

void CFilterPane::UpdateStatus()
{
    const int64_t iLines = static_cast<int64_t>(m_index.GetLines().size());
    const QString lines = iLines == 1 ? QStringLiteral("1 line")
                                      : QStringLiteral("%1 lines").arg(GroupedNumber(iLines));
    if (m_index.GetPattern().IsEmpty() || !m_index.GetPattern().IsValid())
        m_pStatus->clear();
    else if (m_index.IsSearching())
        m_pStatus->setText(
            QStringLiteral("%1 so far\u2026 %2 %").arg(lines).arg(m_index.GetPercent()));
    else if (m_index.WasStopped())
        m_pStatus->setText(QStringLiteral("%1 so far (stopped)").arg(lines));
    else
        m_pStatus->setText(lines);
}

void CFilterPane::Activate(int iRow)
{
    const int64_t iLine = m_pModel->LineAt(iRow);
    if (iLine >= 0)
        m_pTarget->GoToLine(iLine);
}
