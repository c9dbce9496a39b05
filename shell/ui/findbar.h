// SPDX-License-Identifier: MIT
// The find bar (Edit > Find…, Ctrl+F) under the live log and opened files: a pattern with case
// and regular-expression toggles; every match in view is highlighted, F3 and Shift+F3 select the
// next and previous one, and the bar counts them ("3 of 41", "1 203 so far…" while it searches
// a large log). Escape stops a search under way, or closes the bar.
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
    // On the live log's view until another document is set.
    CFindBar(CZelbinView* pView, QWidget* pParent = nullptr);
    // The document in front: its matches are searched and highlighted now.
    void SetTarget(CSearchTarget* pTarget);

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
    // The selected match's number, when the selection is one.
    void UpdateCurrent();
    bool Find(bool bBackward);

    CSearchTarget* m_pTarget;
    CMatchIndex m_index;
    QLineEdit* m_pEdit;
    QToolButton* m_pCase;
    QToolButton* m_pRegex;
    QLabel* m_pCount;
    int64_t m_iCurrent = 0; // the selected match's number, from 1; 0 when none is selected
};
