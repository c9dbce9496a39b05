// SPDX-License-Identifier: MIT
// "Test Question Response Payload": a series of payload test commands for the selected receiver,
// one per question of a simulated quiz, with a fixed pause after each.
#pragma once

#include "commandtext.h"

#include <QDialog>
#include <functional>

class CServiceClient;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CTestResponsePayload : public QDialog
{
    Q_OBJECT
public:
    static constexpr int ID_TOTAL = 1005;
    static constexpr int ID_QUESTION_TYPE = 1008;
    static constexpr int ID_RESPONSE = 1009;
    static constexpr int ID_LATENCY = 1010;
    static constexpr int ID_WINDOW = 1011;

    CTestResponsePayload(uint32_t iReceiverID, CServiceClient* pServiceClient,
                         QWidget* pParent = nullptr);
    // The receiver as the window shows it ("7 \u00b7 Room 7"), for the title.
    void SetReceiverLabel(const QString& label);
    // How the dialog asks whether to stop a run that Escape or closing interrupts (a message
    // box; tests answer it without a person).
    void SetStopQuestion(std::function<bool(QWidget*)> ask) { m_askStop = std::move(ask); }

    void OnSelchangeQuestionType();
    // Starts the series: each question's text is sent, then the pause follows. While it runs the
    // dialog shows its progress and stays painted, and its input is discarded (never replayed
    // later): no second run, no type change. Stop ends the series after the current pause;
    // Escape or closing asks whether to stop it, and then stops at once and closes. A total or
    // latency that no 32-bit count holds is refused with a message, nothing sent.
    void OnStartTest();
    void OnStopTest();
    bool IsRunning() const { return m_bRunning; }
    // Questions sent in the current or last run.
    int64_t GetSentCount() const { return m_iSent; }

    QLineEdit* GetTotalEdit() const { return m_pTotal; }
    QComboBox* GetQuestionTypeList() const { return m_pQuestionType; }
    QLineEdit* GetResponseEdit() const { return m_pResponse; }
    QLineEdit* GetLatencyEdit() const { return m_pLatency; }
    QLineEdit* GetWindowEdit() const { return m_pWindow; }
    QLabel* GetProgressLabel() const { return m_pProgress; }
    QPushButton* GetStartButton() const { return m_pStart; }
    QPushButton* GetStopButton() const { return m_pStop; }

    uint32_t GetReceiverID() const { return m_iReceiverID; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void SendNext();
    void EndRun();
    // Escape or closing during a run: asks, and stops and closes when the answer is yes.
    void AskToStop();
    void SetInputEnabled(bool bEnabled);

    CServiceClient* m_pServiceClient;
    uint32_t m_iReceiverID;
    PayloadTestSettings m_settings;
    bool m_bRunning = false;
    bool m_bStopRequested = false;
    PayloadTestRun m_run;
    std::function<bool(QWidget*)> m_askStop;
    int64_t m_iSent = 0;
    class QTimer* m_pPause;
    QPushButton* m_pStop;
    QLineEdit* m_pTotal;
    QComboBox* m_pQuestionType;
    QLineEdit* m_pResponse;
    QLineEdit* m_pLatency;
    QLineEdit* m_pWindow;
    QLabel* m_pProgress;
    QPushButton* m_pStart;
    QPushButton* m_pCancel;
};
