// SPDX-License-Identifier: MIT
// Fitting windows to the available screen geometry.

#include "screenfit.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace
{
// The frame the window manager draws around a window: known once the window is mapped; before
// that, a title bar of the style's height and thin borders.
QMargins FrameMargins(const QWidget* pWindow)
{
    const QRect frame = pWindow->frameGeometry(), inner = pWindow->geometry();
    if (pWindow->isVisible() && frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(),
                frame.right() - inner.right(), frame.bottom() - inner.bottom()};
    const int iTitle = pWindow->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
    return {4, iTitle, 4, 4};
}
} // namespace

void FitWindowToScreen(QWidget* pWindow)
{
    QScreen* pScreen = QGuiApplication::screenAt(pWindow->frameGeometry().center());
    if (!pScreen)
        pScreen = pWindow->screen() ? pWindow->screen() : QGuiApplication::primaryScreen();
    if (!pScreen)
        return;
    const QRect available = pScreen->availableGeometry();
    const QMargins frame = FrameMargins(pWindow);
    const QSize most(available.width() - frame.left() - frame.right(),
                     available.height() - frame.top() - frame.bottom());
    // A layout's minimum that the screen cannot hold gives way: a window that fits with
    // squeezed parts is of more use than one whose bottom cannot be reached.
    if (pWindow->minimumWidth() > most.width() || pWindow->minimumHeight() > most.height())
        pWindow->setMinimumSize(pWindow->minimumSize().boundedTo(most));
    const QSize size = pWindow->size().boundedTo(most);
    if (size != pWindow->size())
        pWindow->resize(size);
    const int iWidth = size.width() + frame.left() + frame.right();
    const int iHeight = size.height() + frame.top() + frame.bottom();
    const QPoint at(std::clamp(pWindow->x(), available.left(), available.right() + 1 - iWidth),
                    std::clamp(pWindow->y(), available.top(), available.bottom() + 1 - iHeight));
    if (at != pWindow->pos())
        pWindow->move(at);
}

bool CScreenFitter::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::Show)
        if (auto* pDialog = qobject_cast<QDialog*>(pWatched); pDialog && pDialog->isWindow())
            FitWindowToScreen(pDialog);
    return QObject::eventFilter(pWatched, pEvent);
}
