// SPDX-License-Identifier: MIT
// The filter pane (View > Filter, Ctrl+Shift+F): under the document in front (the live log or an
// opened file), the lines that match a pattern, each with its line number, growing as they are
// found and as matching lines arrive. Double-click or Enter puts the view's caret on the line.
// While the pattern is empty the list is hidden; Escape stops a search under way, or closes.
#pragma once

#include "logsearch.h"

#include <QAbstractListModel>
#include <QWidget>

class CZelbinView;
class QLabel;
class QLineEdit;
class QListView;
class QToolButton;

// The index's lines as rows "1234: text"; the text is read from the document when a row is shown.
class CFilterModel : public QAbstractListModel
{
public:
    CFilterModel(const CMatchIndex& index, QObject* pParent);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int iRole) const override;
    int64_t LineAt(int iRow) const;

private:
    const CMatchIndex& m_index;
    int m_iRows = 0;
};

class CFilterPane : public QWidget
{
    Q_OBJECT
public:
    // On the live log's view until another document is set.
    CFilterPane(CZelbinView* pView, QWidget* pParent = nullptr);
    void SetTarget(CSearchTarget* pTarget);
    // Shows the pane with the focus in its field.
    void Open();
    void Close();
    QLineEdit* GetEdit() const { return m_pEdit; }
    QToolButton* GetCaseButton() const { return m_pCase; }
    QToolButton* GetRegexButton() const { return m_pRegex; }
    QListView* GetList() const { return m_pList; }
    QString GetStatusText() const;
    const CMatchIndex& GetIndex() const { return m_index; }
    // Puts the view's caret on the row's line.
    void Activate(int iRow);

signals:
    void Closed();

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void OnPatternChanged();
    void UpdateStatus();

    CSearchTarget* m_pTarget;
    CMatchIndex m_index;
    CFilterModel* m_pModel;
    QLineEdit* m_pEdit;
    QToolButton* m_pCase;
    QToolButton* m_pRegex;
    QLabel* m_pStatus;
    QListView* m_pList;
};
