// The base tests' entry point. Started with "--log-child <folder>" the
// executable instead plays the child process of the logging test: it logs
// one line of every kind and ends with a fatal message.
#include "base/logging.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <cstring>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--log-child") == 0) {
        installLogging(QString::fromLocal8Bit(argv[2]), 10);
        qDebug("debug line");
        qInfo("info line");
        qWarning("warning line");
        qCritical("critical line");
        qFatal("fatal line");
        return 0;  // never reached: a fatal message ends the process
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
