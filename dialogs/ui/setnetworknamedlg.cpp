// SPDX-License-Identifier: MIT
// The Set Network Name dialog.

#include "setnetworknamedlg.h"
#include "dialogicon.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CSetNetworkNameDlg::CSetNetworkNameDlg(QWidget* pParent, char16_t* pszName, int iCapacity)
    : QDialog(pParent), m_pszName(pszName), m_iCapacity(iCapacity)
{
    setWindowTitle(QStringLiteral("Set Network Name"));
    setWindowIcon(DialogIcon());
    auto* pLayout = new QGridLayout(this);
    pLayout->addWidget(new QLabel(QStringLiteral("Network Name:"), this), 0, 0);
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName(QString::number(ID_NAME_EDIT));
    pLayout->addWidget(m_pEdit, 1, 0);
    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    pOk->setObjectName(QStringLiteral("1"));
    pOk->setDefault(true);
    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    pCancel->setObjectName(QStringLiteral("2"));
    pLayout->addWidget(pOk, 0, 1);
    pLayout->addWidget(pCancel, 1, 1);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
    m_pEdit->setText(QString::fromUtf16(m_pszName));
}

void CSetNetworkNameDlg::showEvent(QShowEvent* pEvent)
{
    QDialog::showEvent(pEvent);
    m_pEdit->setFocus();
    m_pEdit->selectAll();
}

void CSetNetworkNameDlg::accept()
{
    const std::u16string text = m_pEdit->text().toStdU16String();
    const size_t iKeep = std::min<size_t>(text.size(), static_cast<size_t>(m_iCapacity - 1));
    for (int i = 0; i < m_iCapacity; ++i)
        m_pszName[i] = static_cast<size_t>(i) < iKeep ? text[static_cast<size_t>(i)] : u'\0';
    QDialog::accept();
}
