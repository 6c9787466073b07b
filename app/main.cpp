#include "mntavro.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TFmTavro window;
    window.show();
    return app.exec();
}
