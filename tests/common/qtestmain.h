// SPDX-License-Identifier: MIT
// main() for the window's tests: Qt Test with the offscreen platform (no display needed), in a
// private network namespace because the window's service client uses the fixed look-up group.
#pragma once

#include "netns.h"

#include <QApplication>
#include <QMetaMethod>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

// With ZELBIN_QTEST_EXCEPT=name,name... and no test function named on the command line, every
// test function but those runs: ctest runs the long ones as tests of their own, in parallel. No
// arguments at all (a failure) unless each of those names is a test function and some remain.
inline std::vector<std::string> QTestArguments(const QMetaObject& meta, int argc, char** argv)
{
    std::vector<std::string> args(argv, argv + argc);
    const char* pszExcept = std::getenv("ZELBIN_QTEST_EXCEPT");
    if (!pszExcept || !*pszExcept || argc > 1)
        return args;
    const std::string except = std::string(",") + pszExcept + ",";
    const std::set<std::string> special = {"init", "cleanup", "initTestCase", "cleanupTestCase"};
    size_t iExcepted = 0;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
    {
        const QMetaMethod method = meta.method(i);
        const std::string name = method.name().toStdString();
        if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Private ||
            method.parameterCount() != 0 || name.ends_with("_data") || special.contains(name))
            continue;
        if (except.find("," + name + ",") == std::string::npos)
            args.push_back(name);
        else
            ++iExcepted;
    }
    if (iExcepted + 1 != static_cast<size_t>(std::count(except.begin(), except.end(), ',')) ||
        args.size() == 1)
    {
        std::fprintf(stderr,
                     "ZELBIN_QTEST_EXCEPT=%s: not every name is a test function, or none "
                     "is left to run\n",
                     pszExcept);
        return {};
    }
    return args;
}

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
            std::vector<std::string> args = QTestArguments(test.staticMetaObject, argc, argv);     \
            std::vector<char*> raw;                                                                \
            for (auto& arg : args)                                                                 \
                raw.push_back(arg.data());                                                         \
            status =                                                                               \
                raw.empty() ? 1 : QTest::qExec(&test, static_cast<int>(raw.size()), raw.data());   \
        }                                                                                          \
        std::error_code ignored;                                                                   \
        std::filesystem::remove_all(home, ignored);                                                \
        return status;                                                                             \
    }
