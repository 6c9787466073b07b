#include "application.h"
#include "mntavro.h"
#include "quitrequest.h"
#include "termination.h"

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    Termination::install(&app);
    TFmTavro window;
    // An error while the window was built has been shown; the program ends without its loop.
    if (window.CreationFailed())
        return 0;
    if (!QuitRequest::requested())
        window.show();
    return QuitRequest::exec();
}
