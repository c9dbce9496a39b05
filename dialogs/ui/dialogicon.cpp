// SPDX-License-Identifier: MIT
#include "dialogicon.h"

namespace
{
QIcon& Store()
{
    static QIcon icon;
    return icon;
}
} // namespace

QIcon DialogIcon()
{
    return Store();
}

void SetDialogIcon(const QIcon& icon)
{
    Store() = icon;
}
