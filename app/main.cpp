// The window's entry point: start-up services in their fixed order, the main
// window, and shut-down in reverse.
#include "app/mainwindow.h"
#include "app/win32killprocessesthread.h"
#include "base/apptranslator.h"
#include "base/datafolder.h"
#include "base/logging.h"
#include "platform/osservices.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include <curl/curl.h>

int main(int argc, char* argv[])
{
    // The bubble view's web engine shares the window's graphics contexts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/quillometry.png")));
    int result = 0;
    {
        AppTranslator translator;
        translator.loadEmbedded();
        QApplication::installTranslator(&translator);

        platform::keepAwake();
        platform::ignoreBrokenPipe();
        installLogging(QDir(dataFolder()).filePath(QStringLiteral("qlogs")), 10);
        curl_global_init(CURL_GLOBAL_ALL);

        {
            Win32KillProcessesThread watcher;
            watcher.addWatch(QStringLiteral("itunes.exe"),
                             QCoreApplication::translate(
                                 "Win32KillProcessesThread",
                                 "iTunes can't be started when running Quillometry. Please close iTunes."));
            watcher.start(QThread::InheritPriority);
            {
                // The program watches for phones (tests and tours leave it off).
                DeviceWatchSettings devices;
                devices.watch = true;
                MainWindow window(devices);
                window.show();
                result = app.exec();
            }  // the main window goes first, then the watcher stops
        }
        QApplication::removeTranslator(&translator);
    }
    curl_global_cleanup();
    return result;
}
