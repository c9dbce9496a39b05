// SPDX-License-Identifier: MIT
// The receivers toolbar shows the bookkeeping of CReceiverList.

#include "receiverstoolbar.h"
#include "sendcommanddlg.h"
#include "testresponsepayload.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CReceiversToolbar::CReceiversToolbar(CServiceClient* pServiceClient, QWidget* pParent)
    : QToolBar(QStringLiteral("Receivers"), pParent), m_pServiceClient(pServiceClient),
      m_runDialog([](QDialog& dialog) { dialog.exec(); })
{
    setObjectName(QStringLiteral("receiversToolbar"));
    m_list.SetListReady(false);
}

bool CReceiversToolbar::Create(QWidget* pParent)
{
    setParent(pParent);
    auto* pPanel = new QWidget(this);
    auto* pLayout = new QHBoxLayout(pPanel);
    m_pListWidget = new QListWidget(pPanel);
    m_pListWidget->setObjectName(QString::number(ID_RECEIVERS_LIST));
    m_pListWidget->setMinimumWidth(190);
    m_pListWidget->setMaximumHeight(70);
    auto* pButtons = new QVBoxLayout;
    m_pSendCommand = new QPushButton(QStringLiteral("Send Command"), pPanel);
    m_pSendCommand->setObjectName(QString::number(ID_SEND_COMMAND));
    m_pTestPayload = new QPushButton(QStringLiteral("Test Question Response Payload"), pPanel);
    m_pTestPayload->setObjectName(QString::number(ID_TEST_PAYLOAD));
    pButtons->addWidget(m_pSendCommand);
    pButtons->addWidget(m_pTestPayload);
    pButtons->addStretch();
    pLayout->addWidget(m_pListWidget);
    pLayout->addLayout(pButtons);
    pLayout->addStretch();
    addWidget(pPanel);

    connect(m_pListWidget, &QListWidget::currentRowChanged, this,
            [this](int row)
            {
                m_list.SetSelection(row);
                UpdateButtons();
            });
    connect(m_pSendCommand, &QPushButton::clicked, this, &CReceiversToolbar::OnSendCommand);
    connect(m_pTestPayload, &QPushButton::clicked, this, &CReceiversToolbar::OnTestPayload);
    m_list.SetListReady(true);
    UpdateReceiver(-1);
    return true;
}

void CReceiversToolbar::SetReceiverEntry(uint32_t iReceiverID, uint32_t iState,
                                         const std::u16string& name)
{
    m_list.SetReceiverEntry(iReceiverID, iState, name);
    ShowList(static_cast<int32_t>(iReceiverID) < 0); // such an identifier rebuilds the items
}

void CReceiversToolbar::ClearReceivers()
{
    m_list.ClearReceivers();
    ShowList(true);
}

bool CReceiversToolbar::UpdateReceiver(int32_t iReceiverID)
{
    const bool bResult = m_list.UpdateReceiver(iReceiverID);
    ShowList(iReceiverID < 0);
    return bResult;
}

// Brings the list window in line with the items. A record adds one item or takes one out, so
// the window changes by that one row; anything else (a rebuild, a clear) redraws it whole.
void CReceiversToolbar::ShowList(bool bFull)
{
    if (!m_pListWidget)
        return;
    const QSignalBlocker block(m_pListWidget);
    const std::vector<ReceiverItem>& items = m_list.GetItems();
    const auto n = static_cast<int>(items.size());
    const int shown = m_pListWidget->count();
    const auto sameAt = [&](int row, size_t index)
    {
        const QListWidgetItem* pItem = m_pListWidget->item(row);
        return pItem && pItem->data(Qt::UserRole).toUInt() == items[index].iData;
    };
    const auto add = [&](const ReceiverItem& item)
    {
        auto* pItem = new QListWidgetItem(
            QString::fromStdU16String(ReceiverLabel(item.iData, item.text)), m_pListWidget);
        pItem->setData(Qt::UserRole, item.iData);
    };
    if (bFull)
    {
        m_pListWidget->clear();
        for (const ReceiverItem& item : items)
            add(item);
    }
    else if (n == shown + 1 && (shown == 0 || sameAt(shown - 1, static_cast<size_t>(shown - 1))))
        add(items.back());
    else if (n == shown - 1)
    {
        int row = 0;
        while (row < n && sameAt(row, static_cast<size_t>(row)))
            ++row;
        delete m_pListWidget->takeItem(row);
    }
    else if (n != shown)
    {
        m_pListWidget->clear();
        for (const ReceiverItem& item : items)
            add(item);
    }
    if (const int iRenamed = m_list.GetRenamedItem(); !bFull && iRenamed >= 0 && iRenamed < n)
        if (QListWidgetItem* pItem = m_pListWidget->item(iRenamed))
            pItem->setText(QString::fromStdU16String(
                ReceiverLabel(items[static_cast<size_t>(iRenamed)].iData,
                              items[static_cast<size_t>(iRenamed)].text)));
    if (m_pListWidget->currentRow() != m_list.GetSelection())
        m_pListWidget->setCurrentRow(m_list.GetSelection());
    UpdateButtons();
}

void CReceiversToolbar::UpdateButtons()
{
    const bool bSelected = m_list.GetSelection() != CReceiverList::NO_SELECTION;
    if (m_pSendCommand)
        m_pSendCommand->setEnabled(bSelected);
    if (m_pTestPayload)
        m_pTestPayload->setEnabled(bSelected);
}

void CReceiversToolbar::OnSendCommand()
{
    uint32_t id = 0;
    if (!m_list.GetSelectedReceiver(id))
        return;
    CSendCommandDlg dialog(id, m_pServiceClient, nullptr);
    dialog.SetReceiverLabel(SelectedLabel());
    m_runDialog(dialog);
}

void CReceiversToolbar::OnTestPayload()
{
    uint32_t id = 0;
    if (!m_list.GetSelectedReceiver(id))
        return;
    CTestResponsePayload dialog(id, m_pServiceClient, nullptr);
    dialog.SetReceiverLabel(SelectedLabel());
    m_runDialog(dialog);
}

QString CReceiversToolbar::SelectedLabel() const
{
    const QListWidgetItem* pItem = m_pListWidget ? m_pListWidget->currentItem() : nullptr;
    return pItem ? pItem->text() : QString();
}
