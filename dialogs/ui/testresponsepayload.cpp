// SPDX-License-Identifier: MIT
// The payload test dialog.

#include "testresponsepayload.h"
#include "dialogicon.h"
#include "serviceclient.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>

CTestResponsePayload::CTestResponsePayload(uint32_t iReceiverID, CServiceClient* pServiceClient,
                                           QWidget* pParent)
    : QDialog(pParent), m_pServiceClient(pServiceClient), m_iReceiverID(iReceiverID)
{
    setWindowTitle(QStringLiteral("Dialog"));
    setWindowIcon(DialogIcon());
    auto* pLayout = new QGridLayout(this);
    auto* pDigits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto edit = [&](int id, bool bDigits)
    {
        auto* pEdit = new QLineEdit(this);
        pEdit->setObjectName(QString::number(id));
        if (bDigits)
            pEdit->setValidator(pDigits);
        return pEdit;
    };
    m_pTotal = edit(ID_TOTAL, true);
    m_pQuestionType = new QComboBox(this);
    m_pQuestionType->setObjectName(QString::number(ID_QUESTION_TYPE));
    m_pResponse = edit(ID_RESPONSE, false);
    m_pResponse->setMinimumWidth(320);
    m_pLatency = edit(ID_LATENCY, true);
    m_pWindow = edit(ID_WINDOW, true);
    pLayout->addWidget(new QLabel(QStringLiteral("Total Questions:"), this), 0, 0);
    pLayout->addWidget(m_pTotal, 0, 1);
    pLayout->addWidget(new QLabel(QStringLiteral("Question Type:"), this), 1, 0);
    pLayout->addWidget(m_pQuestionType, 1, 1);
    pLayout->addWidget(new QLabel(QStringLiteral("Response:"), this), 2, 0);
    pLayout->addWidget(m_pResponse, 2, 1, 1, 3);
    pLayout->addWidget(new QLabel(QStringLiteral("Latency (in milliseconds):"), this), 3, 0);
    pLayout->addWidget(m_pLatency, 3, 1);
    pLayout->addWidget(
        new QLabel(QStringLiteral("Class Response Window\n(in milliseconds):"), this), 4, 0);
    pLayout->addWidget(m_pWindow, 4, 1);
    m_pProgress = new QLabel(this);
    m_pProgress->setObjectName(QStringLiteral("progress"));
    pLayout->addWidget(m_pProgress, 5, 0, 1, 2);
    m_pStart = new QPushButton(QStringLiteral("Start Test"), this);
    m_pStart->setObjectName(QStringLiteral("1"));
    m_pStart->setDefault(true);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setObjectName(QStringLiteral("2"));
    pLayout->addWidget(m_pStart, 6, 2);
    pLayout->addWidget(m_pCancel, 6, 3);

    for (const QuestionType& t : g_questionTypes)
        m_pQuestionType->addItem(QString::fromUtf16(t.pszName));
    m_pQuestionType->setCurrentIndex(m_settings.iQuestionType);
    m_pTotal->setText(QString::fromStdU16String(m_settings.totalQuestions));
    m_pResponse->setText(QString::fromStdU16String(m_settings.response));
    m_pLatency->setText(QString::fromStdU16String(m_settings.latency));
    m_pWindow->setText(QString::fromStdU16String(m_settings.classResponseWindow));
    connect(m_pQuestionType, &QComboBox::currentIndexChanged, this,
            &CTestResponsePayload::OnSelchangeQuestionType);
    connect(m_pStart, &QPushButton::clicked, this, &CTestResponsePayload::OnStartTest);
    connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CTestResponsePayload::OnSelchangeQuestionType()
{
    const int index = m_pQuestionType->currentIndex();
    if (index >= 0 && index < QUESTION_TYPE_COUNT)
        m_pResponse->setText(QString::fromUtf16(g_questionTypes[index].pszResponsePreset));
}

void CTestResponsePayload::OnStartTest()
{
    if (m_bRunning)
        return;
    m_settings.response = m_pResponse->text().toStdU16String();
    m_settings.totalQuestions = m_pTotal->text().toStdU16String();
    m_settings.latency = m_pLatency->text().toStdU16String();
    m_settings.classResponseWindow = m_pWindow->text().toStdU16String();
    m_settings.iQuestionType = m_pQuestionType->currentIndex();
    const PayloadTestRun run = BuildPayloadTest(m_settings);
    if (run.texts.empty())
        return;

    m_bRunning = true;
    for (QWidget* pWidget :
         {static_cast<QWidget*>(m_pTotal), static_cast<QWidget*>(m_pQuestionType),
          static_cast<QWidget*>(m_pResponse), static_cast<QWidget*>(m_pLatency),
          static_cast<QWidget*>(m_pWindow), static_cast<QWidget*>(m_pStart),
          static_cast<QWidget*>(m_pCancel)})
        pWidget->setEnabled(false);
    const int iPause = std::max(0, run.iLatencyMs);
    const int64_t total = static_cast<int64_t>(run.texts.size());
    for (int64_t n = 0; n < total; ++n)
    {
        if (m_pServiceClient)
            m_pServiceClient->SendReceiverCommand(m_iReceiverID, run.texts[static_cast<size_t>(n)]);
        const int64_t secondsLeft = (total - n) * iPause / 1000;
        m_pProgress->setText(QStringLiteral("Question %1 of %2, about %3 s left")
                                 .arg(n + 1)
                                 .arg(total)
                                 .arg(secondsLeft));
        Pause(iPause);
    }
    m_pProgress->setText(QStringLiteral("Sent %1 question(s)").arg(total));
    for (QWidget* pWidget : findChildren<QWidget*>())
        pWidget->setEnabled(true);
    m_bRunning = false;
}

// The pause keeps the window painted; input is off while the test runs (see OnStartTest).
void CTestResponsePayload::Pause(int iMilliseconds)
{
    if (iMilliseconds <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(iMilliseconds, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CTestResponsePayload::reject()
{
    if (!m_bRunning)
        QDialog::reject();
}

void CTestResponsePayload::closeEvent(QCloseEvent* pEvent)
{
    if (m_bRunning)
        pEvent->ignore();
    else
        QDialog::closeEvent(pEvent);
}
