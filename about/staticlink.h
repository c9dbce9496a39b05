// SPDX-License-Identifier: MIT
// A hyperlink label: underlined, in blue until visited (then purple), a hand cursor, opened by a
// click or by the space bar while it has the focus. An e-mail text becomes a "mailto:" link.
#pragma once

#include <QLabel>
#include <functional>

class CStaticLink : public QLabel
{
    Q_OBJECT
public:
    static inline const QColor NORMAL_COLOUR{0, 0, 255};
    static inline const QColor VISITED_COLOUR{128, 0, 128};

    CStaticLink(const QString& target, bool bDeleteOnDestroy, bool bActive,
                QWidget* pParent = nullptr);

    // Opens the link as a click would; nothing when the link is not active.
    void Activate();

signals:
    // The target could not be opened (after the beep): the page may say why.
    void OpenFailed(const QString& target);

public:
    QColor GetColour() const { return m_colour; }

    // How a link is opened; the platform's "open" by default (tests put a recorder here).
    using Opener = std::function<bool(const QString& target)>;
    static void SetOpener(Opener opener);

    // The text a link opens: its e-mail addresses each followed by ";" and, for an e-mail text
    // that is no web or mail address yet, "mailto:" in front.
    static QString LinkTargetOf(const QString& text);

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    void ApplyColour();

    QString m_target;
    QColor m_colour = NORMAL_COLOUR;
    bool m_bDeleteOnDestroy;
    bool m_bActive;
    bool m_bFocused = false;
};
