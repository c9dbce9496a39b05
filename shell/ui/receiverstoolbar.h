// SPDX-License-Identifier: MIT
// The receivers toolbar, docked at the top of the frame: the receivers the service reports, and
// two buttons that open the Send Command dialog and the payload test for the selected one.
#pragma once

#include "receiverlist.h"

#include <QToolBar>
#include <functional>

class QDialog;

class CServiceClient;
class QListWidget;
class QPushButton;

class CReceiversToolbar : public QToolBar
{
    Q_OBJECT
public:
    static constexpr int ID_RECEIVERS_LIST = 1000;
    static constexpr int ID_SEND_COMMAND = 1001;
    static constexpr int ID_TEST_PAYLOAD = 1007;

    explicit CReceiversToolbar(CServiceClient* pServiceClient, QWidget* pParent = nullptr);

    // Builds the controls and lists every entry known so far.
    bool Create(QWidget* pParent);
    void SetReceiverEntry(uint32_t iReceiverID, uint32_t iState, const std::u16string& name);
    void ClearReceivers();
    bool UpdateReceiver(int32_t iReceiverID);

    const CReceiverList& GetList() const { return m_list; }
    QListWidget* GetListWidget() const { return m_pListWidget; }
    QPushButton* GetSendCommandButton() const { return m_pSendCommand; }
    QPushButton* GetTestPayloadButton() const { return m_pTestPayload; }

    // Runs a dialog modally; tests answer dialogs without a person.
    using DialogRunner = std::function<void(QDialog&)>;
    void SetDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    // The two buttons' commands: the dialogs for the selected receiver (its identifier, never
    // its position); nothing without a selection.
    void OnSendCommand();
    void OnTestPayload();

private:
    // bFull: redraw every row (the items were rebuilt); else the one row that changed.
    void ShowList(bool bFull);
    void UpdateButtons();
    QString SelectedLabel() const;

    CServiceClient* m_pServiceClient;
    CReceiverList m_list;
    QListWidget* m_pListWidget = nullptr;
    QPushButton* m_pSendCommand = nullptr;
    QPushButton* m_pTestPayload = nullptr;
    DialogRunner m_runDialog;
};
