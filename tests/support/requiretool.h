// For tests that need an outside tool or a program of this build: without
// it the test is skipped with a message naming what is missing, so it never
// disappears silently; in CI (CI=true), where setup installs everything,
// the missing tool fails the test instead.
#pragma once

#include <QString>
#include <QtGlobal>

#include <gtest/gtest.h>

inline bool runningInCi()
{
    return qEnvironmentVariable("CI").compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

// Use in a test body or a fixture's SetUp: it returns from there.
#define REQUIRE_TOOL(present, what)                                  \
    do {                                                             \
        if (!(present)) {                                            \
            if (runningInCi())                                       \
                FAIL() << (what) << " is missing (CI=true)";         \
            GTEST_SKIP() << (what) << " is missing";                 \
        }                                                            \
    } while (0)
