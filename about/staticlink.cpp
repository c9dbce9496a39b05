// SPDX-License-Identifier: MIT
// The hyperlink label.

#include "staticlink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QPainter>
#include <QUrl>

namespace
{
CStaticLink::Opener& OpenerStore()
{
    static CStaticLink::Opener opener = [](const QString& target)
    { return QDesktopServices::openUrl(QUrl(target)); };
    return opener;
}
} // namespace

CStaticLink::CStaticLink(const QString& target, bool bDeleteOnDestroy, bool bActive,
                         QWidget* pParent)
    : QLabel(pParent), m_target(target), m_bDeleteOnDestroy(bDeleteOnDestroy), m_bActive(bActive)
{
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(text());
    setAccessibleDescription(QStringLiteral("Press"));
    if (m_bDeleteOnDestroy)
        setAttribute(Qt::WA_DeleteOnClose);
    ApplyColour();
}

void CStaticLink::SetOpener(Opener opener)
{
    OpenerStore() = std::move(opener);
}

QString CStaticLink::LinkTargetOf(const QString& text)
{
    QString result = text;
    if (result.contains(QLatin1Char('@')))
    {
        QString addresses;
        for (const QString& word : result.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            if (word.contains(QLatin1Char('@')))
                addresses += word + QLatin1Char(';');
        result = addresses;
    }
    if (result.size() > 7 && !result.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) &&
        !result.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive) &&
        result.contains(QLatin1Char('@')))
        result.prepend(QStringLiteral("mailto:"));
    return result;
}

void CStaticLink::Activate()
{
    if (!m_bActive)
        return;
    QString target = m_target.isEmpty() ? text() : m_target;
    if (target.isEmpty())
        return;
    target = LinkTargetOf(target);
    m_target = target;
    if (OpenerStore()(target))
    {
        m_colour = VISITED_COLOUR;
        ApplyColour();
    }
    else
    {
        QApplication::beep();
        emit OpenFailed(target);
    }
}

void CStaticLink::ApplyColour()
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, m_colour);
    setPalette(palette);
    update();
}

void CStaticLink::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton)
        Activate();
}

void CStaticLink::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_Space)
        Activate();
    else
        QLabel::keyPressEvent(pEvent);
}

void CStaticLink::focusInEvent(QFocusEvent* pEvent)
{
    m_bFocused = true;
    update();
    QLabel::focusInEvent(pEvent);
}

void CStaticLink::focusOutEvent(QFocusEvent* pEvent)
{
    m_bFocused = false;
    update();
    QLabel::focusOutEvent(pEvent);
}

void CStaticLink::paintEvent(QPaintEvent* pEvent)
{
    QLabel::paintEvent(pEvent);
    if (!m_bFocused)
        return;
    // The dotted focus rectangle, one pixel outside the text.
    QPainter painter(this);
    QPen pen(palette().color(QPalette::WindowText));
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    const QRect textRect(contentsRect().topLeft(),
                         QSize(fontMetrics().horizontalAdvance(text()), fontMetrics().height()));
    painter.drawRect(textRect.intersected(rect().adjusted(0, 0, -1, -1)));
}
