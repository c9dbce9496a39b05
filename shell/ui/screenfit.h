// SPDX-License-Identifier: MIT
// Windows that fit the screen: a window (the main one, or any dialog as it is shown) is made no
// larger than the available part of its screen, frame and title bar included, and moved inside
// it, at any scale.
#pragma once

#include <QObject>

class QWidget;

void FitWindowToScreen(QWidget* pWindow);

// Installed on the application: every dialog is fitted as it is shown.
class CScreenFitter : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
};
