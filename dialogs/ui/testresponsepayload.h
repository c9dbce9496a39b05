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

    void OnSelchangeQuestionType();
    // Starts the series: each question's text is sent, then the pause follows. While it runs the
    // dialog shows its progress and stays painted, and its input is discarded (never replayed
    // later): no second run, no type change, no closing. Only Stop works, which ends the series
    // after the current pause.
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
    void SetInputEnabled(bool bEnabled);

    CServiceClient* m_pServiceClient;
    uint32_t m_iReceiverID;
    PayloadTestSettings m_settings;
    bool m_bRunning = false;
    bool m_bStopRequested = false;
    PayloadTestRun m_run;
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
