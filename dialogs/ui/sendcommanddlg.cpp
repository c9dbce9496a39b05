// SPDX-License-Identifier: MIT
// The Send Command dialog.

#include "sendcommanddlg.h"
#include "commandtext.h"
#include "dialogicon.h"
#include "serviceclient.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

CSendCommandDlg::CSendCommandDlg(uint32_t iReceiverID, CServiceClient* pServiceClient,
                                 QWidget* pParent)
    : QDialog(pParent), m_pServiceClient(pServiceClient), m_iReceiverID(iReceiverID)
{
    SetReceiverLabel(QStringLiteral("receiver %1").arg(iReceiverID));
    setWindowIcon(DialogIcon());
    auto* pLayout = new QGridLayout(this);
    pLayout->addWidget(new QLabel(QStringLiteral("Command List:"), this), 0, 0);
    m_pCommandList = new QComboBox(this);
    m_pCommandList->setObjectName(QString::number(ID_COMMAND_LIST));
    m_pCommandList->setMinimumWidth(480);
    pLayout->addWidget(m_pCommandList, 0, 1, 1, 3);
    pLayout->addWidget(new QLabel(QStringLiteral("Command Edit:"), this), 1, 0);
    m_pCommandEdit = new CCommandEdit(this);
    m_pCommandEdit->setObjectName(QString::number(ID_COMMAND_EDIT));
    pLayout->addWidget(m_pCommandEdit, 1, 1, 1, 3);
    auto* pSend = new QPushButton(QStringLiteral("Send"), this);
    pSend->setObjectName(QString::number(ID_SEND));
    pSend->setDefault(true); // Enter sends
    pLayout->addWidget(pSend, 2, 1);
    auto* pClose = new QPushButton(QStringLiteral("Close"), this);
    pClose->setObjectName(QStringLiteral("1"));
    pClose->setAutoDefault(false);
    pLayout->addWidget(pClose, 3, 3);
    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName(QStringLiteral("status"));
    pLayout->addWidget(m_pStatus, 3, 0, 1, 3);
    setTabOrder(m_pCommandList, m_pCommandEdit);
    setTabOrder(m_pCommandEdit, pSend);
    setTabOrder(pSend, pClose);

    for (const CommandTemplate& t : g_commandTemplates)
        m_pCommandList->addItem(QString::fromUtf16(t.pszName));
    connect(m_pCommandList, &QComboBox::currentIndexChanged, this,
            &CSendCommandDlg::OnSelchangeCommandList);
    connect(m_pCommandEdit, &CCommandEdit::FocusGained, this,
            &CSendCommandDlg::OnSetfocusCommandEdit);
    connect(pSend, &QPushButton::clicked, this, &CSendCommandDlg::OnSend);
    connect(pClose, &QPushButton::clicked, this, &QDialog::accept);
    for (QWidget* pChild : findChildren<QWidget*>())
        pChild->installEventFilter(this);
    installEventFilter(this);

    m_pCommandList->setCurrentIndex(0);
    OnSelchangeCommandList();
}

void CSendCommandDlg::SetReceiverLabel(const QString& label)
{
    setWindowTitle(QStringLiteral("Send Command \u2014 %1").arg(label));
}

void CSendCommandDlg::OnSelchangeCommandList()
{
    const int row = m_pCommandList->currentIndex();
    if (row < 0 || row >= COMMAND_TEMPLATE_COUNT)
        return;
    m_pCommandEdit->setText(QString::fromUtf16(g_commandTemplates[row].pszTemplate));
    m_pCommandEdit->setFocus();
    // setFocus runs the focus handler only while the window is active (and not when the edit
    // has the focus already); the handler gives the same result when run twice.
    OnSetfocusCommandEdit();
}

void CSendCommandDlg::OnSetfocusCommandEdit()
{
    m_pCommandEdit->deselect();
    m_pCommandEdit->setCursorPosition(0);
    SelectNextPlaceholder();
}

bool CSendCommandDlg::SelectNextPlaceholder()
{
    const std::u16string text = m_pCommandEdit->text().toStdU16String();
    const int end = m_pCommandEdit->hasSelectedText() ? m_pCommandEdit->selectionEnd()
                                                      : m_pCommandEdit->cursorPosition();
    const auto range = FindNextPlaceholder(text, static_cast<size_t>(end));
    if (!range)
        return false;
    m_pCommandEdit->setSelection(static_cast<int>(range->start),
                                 static_cast<int>(range->end - range->start));
    return true;
}

QString CSendCommandDlg::GetStatusText() const
{
    return m_pStatus->text();
}

void CSendCommandDlg::OnSend()
{
    if (!m_pServiceClient)
        return;
    // The text goes out in any case (nowhere, while disconnected), but not silently.
    m_pStatus->setText(m_pServiceClient->IsConnected()
                           ? QString()
                           : QStringLiteral("Not sent: the receiver service is not connected"));
    m_pServiceClient->SendReceiverCommand(
        m_iReceiverID, CleanCommandText(m_pCommandEdit->text().toStdU16String()));
}

bool CSendCommandDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyRelease)
        return true;
    if (pEvent->type() == QEvent::KeyPress && pWatched == m_pCommandEdit &&
        static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Tab && m_pCommandEdit->hasFocus())
        return SelectNextPlaceholder();
    return QDialog::eventFilter(pWatched, pEvent);
}
