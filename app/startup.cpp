#include "app/startup.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTranslator>

#ifndef QM407_VERSION
#define QM407_VERSION "0"
#endif

namespace Startup {

namespace {
    void describe(QCommandLineParser& parser, QCommandLineOption& desktop)
    {
        parser.setApplicationDescription(
            QStringLiteral("Configuration tool for QM407 and QM407M alarm controllers.\n"
                           "Keeps its register Trinket.dat (backup Trinket.bkd) in the current folder;\n"
                           "with --desktop in %1.")
                .arg(desktopDataFolder()));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(desktop);
    }
} // namespace

Options handleCommandLine(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("qm407tool"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QM407_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments += QString::fromLocal8Bit(argv[i]);

    QCommandLineOption desktop(
        QStringLiteral("desktop"),
        QStringLiteral("Started from the desktop menu: keep the data files in the folder above."));
    QCommandLineParser parser;
    describe(parser, desktop);
    // Qt's own options (-platform, -style, ...) are taken by the application object later.
    parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(QStringLiteral("version"))) {
        // Printing needs an application object, but not a display.
        QCoreApplication core(argc, argv);
        QCommandLineParser printer;
        QCommandLineOption again(desktop);
        describe(printer, again);
        printer.process(core); // prints and ends the program
    }
    return Options {parser.isSet(desktop)};
}

int installQtTranslations(QCoreApplication* app, const QLocale& locale)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    int installed = 0;
    for (const QString& catalogue : {QStringLiteral("qtbase"), QStringLiteral("qtserialport")}) {
        auto* translator = new QTranslator(app);
        if (translator->load(locale, catalogue, QStringLiteral("_"), folder) && app->installTranslator(translator))
            ++installed;
        else
            delete translator;
    }
    return installed;
}

QString desktopDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/QM407");
}

bool enterDesktopDataFolder()
{
    const QString folder = desktopDataFolder();
    return QDir().mkpath(folder) && QDir::setCurrent(folder);
}

} // namespace Startup
