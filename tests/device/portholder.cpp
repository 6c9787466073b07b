// Holds a port open from a second process: prints "open" or the failure text, then keeps the
// port until its standard input ends.
#include "device/seriallink.h"

#include <QCoreApplication>

#include <iostream>
#include <string>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2)
        return 2;
    SerialLink link;
    QString error;
    if (link.Open(args[1], &error))
        std::cout << "open" << std::endl;
    else
        std::cout << "failed: " << error.toStdString() << std::endl;
    std::string line;
    std::getline(std::cin, line);
    return 0;
}
