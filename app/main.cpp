#include "app/application.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "app/quitrequest.h"
#include "app/startup.h"
#include "app/termination.h"

#include <QIcon>
#include <QLocale>

int main(int argc, char* argv[])
{
    const Startup::Options options = Startup::handleCommandLine(argc, argv);
    TApplication app(argc, argv);
    app.setDesktopFileName(QStringLiteral("qm407tool"));
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/qm407tool-%1.png").arg(size));
    app.setWindowIcon(icon);
    Startup::installQtTranslations(&app, QLocale::system());
    // From the desktop menu there is no folder the user chose: the data files go to their own.
    if (options.desktop && !Startup::enterDesktopDataFolder())
        ShowError(QStringLiteral("Не удалось создать папку %1").arg(Startup::desktopDataFolder()));
    Termination::install(&app);
    TFmTavro window;
    // An error while the window was built has been shown; the program ends without its loop.
    if (window.CreationFailed())
        return 0;
    if (!QuitRequest::requested())
        window.show();
    return QuitRequest::exec();
}
