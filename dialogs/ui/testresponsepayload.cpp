// SPDX-License-Identifier: MIT
// The payload test dialog.

#include "testresponsepayload.h"
#include "dialogicon.h"
#include "serviceclient.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>

CTestResponsePayload::CTestResponsePayload(uint32_t iReceiverID, CServiceClient* pServiceClient,
                                           QWidget* pParent)
    : QDialog(pParent), m_pServiceClient(pServiceClient), m_iReceiverID(iReceiverID)
{
    SetReceiverLabel(QStringLiteral("receiver %1").arg(iReceiverID));
    m_askStop = [](QWidget* pParent)
    {
        return QMessageBox::question(pParent, QStringLiteral("Test Question Response Payload"),
                                     QStringLiteral("The test is still running. Stop it?")) ==
               QMessageBox::Yes;
    };
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
    // A run of the defaults lasts 1000 s: Stop ends it after the current pause.
    m_pStop = new QPushButton(QStringLiteral("Stop"), this);
    m_pStop->setObjectName(QStringLiteral("stop"));
    m_pStop->setEnabled(false);
    pLayout->addWidget(m_pStop, 6, 1);
    pLayout->addWidget(m_pStart, 6, 2);
    pLayout->addWidget(m_pCancel, 6, 3);
    m_pPause = new QTimer(this);
    m_pPause->setSingleShot(true);
    connect(m_pPause, &QTimer::timeout, this, &CTestResponsePayload::SendNext);
    connect(m_pStop, &QPushButton::clicked, this, &CTestResponsePayload::OnStopTest);

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

void CTestResponsePayload::SetReceiverLabel(const QString& label)
{
    setWindowTitle(QStringLiteral("Test Question Response Payload \u2014 %1").arg(label));
}

namespace
{
// The edits take digits only; a number that no 32-bit count holds is named, not clamped.
QString TooLarge(const QString& digits, const QString& field)
{
    bool bOk = true;
    const qulonglong value = digits.isEmpty() ? 0 : digits.toULongLong(&bOk);
    if (bOk && value <= 2147483647u)
        return {};
    return QStringLiteral("%1 must be at most 2147483647.").arg(field);
}
} // namespace

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
    for (const QString& refusal : {TooLarge(m_pTotal->text(), QStringLiteral("Total Questions")),
                                   TooLarge(m_pLatency->text(), QStringLiteral("Latency"))})
        if (!refusal.isEmpty())
            return m_pProgress->setText(refusal);
    m_settings.response = m_pResponse->text().toStdU16String();
    m_settings.totalQuestions = m_pTotal->text().toStdU16String();
    m_settings.latency = m_pLatency->text().toStdU16String();
    m_settings.classResponseWindow = m_pWindow->text().toStdU16String();
    m_settings.iQuestionType = m_pQuestionType->currentIndex();
    m_run = BuildPayloadTest(m_settings);
    if (m_run.iTotal <= 0)
        return;
    m_bRunning = true;
    m_bStopRequested = false;
    m_iSent = 0;
    SetInputEnabled(false);
    SendNext();
}

// Disabled controls drop what is clicked or typed at them: nothing is queued to run later.
void CTestResponsePayload::SetInputEnabled(bool bEnabled)
{
    for (QWidget* pWidget :
         {static_cast<QWidget*>(m_pTotal), static_cast<QWidget*>(m_pQuestionType),
          static_cast<QWidget*>(m_pResponse), static_cast<QWidget*>(m_pLatency),
          static_cast<QWidget*>(m_pWindow), static_cast<QWidget*>(m_pStart),
          static_cast<QWidget*>(m_pCancel)})
        pWidget->setEnabled(bEnabled);
    m_pStop->setEnabled(!bEnabled);
    if (!bEnabled)
        m_pStop->setFocus();
}

void CTestResponsePayload::SendNext()
{
    if (!m_bRunning)
        return;
    if (m_bStopRequested || m_iSent >= m_run.iTotal)
        return EndRun();
    ++m_iSent;
    if (m_pServiceClient)
        m_pServiceClient->SendReceiverCommand(m_iReceiverID,
                                              m_run.Text(static_cast<int32_t>(m_iSent)));
    const int iPause = std::max(0, m_run.iLatencyMs);
    // The pauses still to come, this one included; a part of a second counts as one.
    const int64_t iMsLeft = (m_run.iTotal - m_iSent + 1) * int64_t{iPause};
    m_pProgress->setText(
        QStringLiteral("Question %1 of %2, %3")
            .arg(m_iSent)
            .arg(m_run.iTotal)
            .arg(iMsLeft < 1000 ? QStringLiteral("less than a second left")
                                : QStringLiteral("about %1 s left").arg((iMsLeft + 999) / 1000)));
    // The pause follows every question, the last one too.
    m_pPause->start(iPause);
}

void CTestResponsePayload::OnStopTest()
{
    if (m_bRunning)
        m_bStopRequested = true; // the series ends when the current pause is over
}

void CTestResponsePayload::EndRun()
{
    m_pProgress->setText(
        m_bStopRequested
            ? QStringLiteral("Stopped after %1 of %2 question(s)").arg(m_iSent).arg(m_run.iTotal)
            : QStringLiteral("Sent %1 question(s)").arg(m_iSent));
    m_bRunning = false;
    m_bStopRequested = false;
    SetInputEnabled(true);
    m_pStart->setFocus();
}

void CTestResponsePayload::AskToStop()
{
    if (!m_askStop(this) || !m_bRunning)
        return;
    m_bStopRequested = true;
    m_pPause->stop();
    EndRun();
    QDialog::reject();
}

void CTestResponsePayload::reject()
{
    if (m_bRunning)
        AskToStop();
    else
        QDialog::reject();
}

// Escape during a run asks; other keys are discarded, not kept for later.
void CTestResponsePayload::keyPressEvent(QKeyEvent* pEvent)
{
    if (!m_bRunning)
        return QDialog::keyPressEvent(pEvent);
    pEvent->accept();
    if (pEvent->key() == Qt::Key_Escape)
        AskToStop();
}

void CTestResponsePayload::closeEvent(QCloseEvent* pEvent)
{
    if (!m_bRunning)
        return QDialog::closeEvent(pEvent);
    pEvent->ignore();
    AskToStop();
}
