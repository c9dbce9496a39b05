// SPDX-License-Identifier: MIT
// "Set Network Name": edits the class network name, at most 8 characters.
#pragma once

#include <QDialog>

class QLineEdit;

class CSetNetworkNameDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int ID_NAME_EDIT = 1006;

    // pszName: the frame's name buffer; iCapacity: its size in characters with the terminator.
    CSetNetworkNameDlg(QWidget* pParent, char16_t* pszName, int iCapacity);
    QLineEdit* GetNameEdit() const { return m_pEdit; }

    // OK: keeps at most capacity - 1 characters, NUL-terminated, the rest of the buffer zero.
    void accept() override;

protected:
    void showEvent(QShowEvent* pEvent) override;

private:
    char16_t* m_pszName;
    int m_iCapacity;
    QLineEdit* m_pEdit;
};
