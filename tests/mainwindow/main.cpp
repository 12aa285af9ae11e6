// The main window's tests: a QApplication on the offscreen platform, the
// program's translation, and a data folder of their own (the data folder is
// fixed at its first use, so it is set before anything runs).
#include "base/apptranslator.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    // The bubble view's web engine shares the window's graphics contexts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    AppTranslator translator;
    translator.loadEmbedded();
    QApplication::installTranslator(&translator);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
