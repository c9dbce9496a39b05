// SPDX-License-Identifier: MIT
// main() for the window's tests: Qt Test with the offscreen platform (no display needed), in a
// private network namespace because the window's service client uses the fixed look-up group.
#pragma once

#include "netns.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#define ZELBIN_QTEST_MAIN(TestClass)                                                               \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        if (!EnterPrivateNetworkNamespace(argc, argv))                                             \
            return 1;                                                                              \
        if (!std::getenv("QT_QPA_PLATFORM"))                                                       \
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);                                           \
        /* Settings of their own, not the user's nor another test program's running beside */      \
        char home[] = "/tmp/zelbin-qttest-XXXXXX";                                                 \
        if (::mkdtemp(home))                                                                       \
            ::setenv("HOME", home, 1);                                                             \
        int status = 0;                                                                            \
        {                                                                                          \
            QApplication app(argc, argv);                                                          \
            QStandardPaths::setTestModeEnabled(true);                                              \
            TestClass test;                                                                        \
            status = QTest::qExec(&test, argc, argv);                                              \
        }                                                                                          \
        std::error_code ignored;                                                                   \
        std::filesystem::remove_all(home, ignored);                                                \
        return status;                                                                             \
    }
