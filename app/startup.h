#pragma once

#include <QString>

class QCoreApplication;
class QLocale;

// What main() does before and around the main window: the command line, Qt's own translations
// and the data folder of a start from the desktop menu.
namespace Startup {

struct Options
{
    bool desktop = false; // started from the desktop menu (--desktop)
};

// Prints --help or --version and ends the program when asked, without a display; otherwise
// gives back the options. Runs before the application object exists.
Options handleCommandLine(int argc, char* argv[]);

// Installs Qt's own translations (qtbase, qtserialport) for the locale; gives back how many
// were found. The tool's own texts are Russian already.
int installQtTranslations(QCoreApplication* app, const QLocale& locale);

// The per-user folder of the data files for a start from the desktop menu.
QString desktopDataFolder();
// Creates that folder when missing and makes it current; false when that failed.
bool enterDesktopDataFolder();

} // namespace Startup
