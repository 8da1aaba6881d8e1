#pragma once

#include "daemon/eventdispatcher.h"

#include <QCoreApplication>
#include <QtTest>

// QTEST_GUILESS_MAIN, with the daemon's own event dispatcher on the test's
// thread: the daemon under test runs on the event loop that ships.
#define DAEMON_TEST_MAIN(TestObject)                                                                              \
    int main(int argc, char *argv[])                                                                              \
    {                                                                                                             \
        QCoreApplication::setEventDispatcher(new EventDispatcher);                                                \
        QCoreApplication app(argc, argv);                                                                         \
        TestObject test;                                                                                          \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                   \
    }
