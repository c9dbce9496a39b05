// SPDX-License-Identifier: MIT
// The application icon that every dialog shows, set once at start-up by the application.
#pragma once

#include <QIcon>

QIcon DialogIcon();
void SetDialogIcon(const QIcon& icon);
