// SPDX-License-Identifier: MIT
// The log view's find bar (Edit > Find…, Ctrl+F): a pattern with case and regular-expression
// toggles; every match in view is highlighted, F3 and Shift+F3 select the next and previous one,
// and the bar counts them ("3 of 41") while lines come and go. Escape closes it.
#pragma once

#include "logsearch.h"

#include <QWidget>

class CZelbinView;
class QLabel;
class QLineEdit;
class QHBoxLayout;
class QToolButton;

// A flat button of the find bar or the filter pane, named for screen readers by its tip.
QToolButton* AddBarButton(QHBoxLayout* pLayout, QWidget* pParent, const QString& text,
                          const QString& tip, bool bCheckable);

class CFindBar : public QWidget
{
    Q_OBJECT
public:
    CFindBar(CZelbinView* pView, QWidget* pParent = nullptr);

    // Shows the bar with the focus in its field: the view's selection, when it is on one line,
    // becomes the pattern.
    void Open();
    void Close();
    // Selects the next (or previous) match after (or before) the view's selection, going round
    // the end; false when there is none.
    bool FindNext();
    bool FindPrevious();

    QLineEdit* GetEdit() const { return m_pEdit; }
    QToolButton* GetCaseButton() const { return m_pCase; }
    QToolButton* GetRegexButton() const { return m_pRegex; }
    QString GetCountText() const;
    const CMatchIndex& GetIndex() const { return m_index; }

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void OnPatternChanged();
    void UpdateCount();
    bool Find(bool bBackward);

    CZelbinView* m_pView;
    CMatchIndex m_index;
    QLineEdit* m_pEdit;
    QToolButton* m_pCase;
    QToolButton* m_pRegex;
    QLabel* m_pCount;
    int m_iCurrent = 0; // the selected match's number, from 1; 0 when none is selected
};
