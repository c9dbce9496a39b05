// SPDX-License-Identifier: MIT
// main() for the window's tests: Qt Test with the offscreen platform (no display needed), in a
// private network namespace because the window's service client uses the fixed look-up group.
#pragma once

#include "netns.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTest>

#define ZELBIN_QTEST_MAIN(TestClass)                                                               \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        if (!EnterPrivateNetworkNamespace(argc, argv))                                             \
            return 1;                                                                              \
        if (!std::getenv("QT_QPA_PLATFORM"))                                                       \
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);                                           \
        QApplication app(argc, argv);                                                              \
        QStandardPaths::setTestModeEnabled(true); /* settings of their own, not the user's */      \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
