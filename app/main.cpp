// The window's entry point.
#include "app/mainwindow.h"
#include "base/productinfo.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    int result = 0;
    {
        MainWindow window;
        window.show();
        result = app.exec();
    }
    return result;
}
