// SPDX-License-Identifier: MIT
// "Send Command": pick one of the command templates, fill in its placeholders (Tab goes from one
// to the next) and send it to the selected receiver, as often as wanted.
#pragma once

#include <QDialog>
#include <QLineEdit>

class CServiceClient;
class QComboBox;

// The command edit tells the dialog when it gains the focus, after its own focus handling.
class CCommandEdit : public QLineEdit
{
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
signals:
    void FocusGained();

protected:
    void focusInEvent(QFocusEvent* pEvent) override
    {
        QLineEdit::focusInEvent(pEvent);
        emit FocusGained();
    }
};

class CSendCommandDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int ID_COMMAND_LIST = 1002;
    static constexpr int ID_COMMAND_EDIT = 1003;
    static constexpr int ID_SEND = 1004;

    CSendCommandDlg(uint32_t iReceiverID, CServiceClient* pServiceClient,
                    QWidget* pParent = nullptr);

    // The receiver as the window shows it ("7 \u00b7 Room 7"): the title names the target.
    void SetReceiverLabel(const QString& label);
    void OnSelchangeCommandList();
    void OnSetfocusCommandEdit();
    // Selects the next placeholder behind the selection; false when there is none.
    bool SelectNextPlaceholder();
    void OnSend();

    uint32_t GetReceiverID() const { return m_iReceiverID; }
    QComboBox* GetCommandList() const { return m_pCommandList; }
    QLineEdit* GetCommandEdit() const { return m_pCommandEdit; }
    // What became of the last Send: empty, or that it could not go out.
    QString GetStatusText() const;

    // The keyboard filter: key releases reach no control; Tab in the edit visits placeholders.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    CServiceClient* m_pServiceClient;
    uint32_t m_iReceiverID;
    QComboBox* m_pCommandList;
    CCommandEdit* m_pCommandEdit;
    class QLabel* m_pStatus;
};
