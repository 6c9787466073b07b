// Renders the main window with a sample register and every auxiliary window to PNG files,
// so the layout can be reviewed without a desktop.
#include "app/application.h"
#include "app/messagebox.h"
#include "app/mntavro.h"
#include "register/dataformat.h"
#include "register/recordstore.h"
#include "register/text1251.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

Record sample(qint32 id, qint32 code, const char* pattern, const char* number, const char* address)
{
    Record r;
    r.setInteger(Field::ID_RECORD, id);
    if (code) {
        r.setInteger(Field::ID_TRINK, code);
        r.setText(Field::CODE, pattern);
    }
    r.setText(Field::PULT_NUM, Text1251::fromUtf8(number));
    if (address)
        r.setText(Field::ADDRESS, Text1251::fromUtf8(address));
    return r;
}

bool writeSampleRegister(const QString& path)
{
    RecordStore store;
    store.append(sample(0, 0x5A5A53, "X0X01X0X1?", "MASTER", nullptr));
    store.append(sample(1, 0x123453, "0X1X0X10X?", "105", "ул. Ленина, д. 12, кв. 4"));
    store.append(sample(2, 0, "", "17А", "пр. Мира, д. 3, офис 210, охрана склада и подсобных помещений"));
    store.append(sample(3, 0x0F0F03, "00XX00XX1?", "230", "ул. Садовая, д. 8"));
    store.append(sample(4, 0, "", "231", "Промзона, склад № 4"));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(DataFormat::write(store)) > 0;
}

bool save(QWidget* window, const QString& folder, const QString& name)
{
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    const bool ok = window->grab().save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), window->width(), window->height());
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    // The tool's settings and single-instance marker stay in a private folder, never the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    TApplication app(argc, argv);
    const QString folder
        = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots")).absolutePath();
    QDir().mkpath(folder);
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()) || !writeSampleRegister(QStringLiteral("Trinket.dat"))) {
        std::fprintf(stderr, "cannot prepare the sample register\n");
        return 1;
    }
    // The port box's COM1 is usually absent here: answer its error box unseen.
    MessageBoxSeam::setUnattended(true);

    TFmTavro window;
    window.show();
    QCoreApplication::processEvents();
    bool ok = save(&window, folder, QStringLiteral("FmTavro"));

    window.SFEditItem->EdAddr->setText(QStringLiteral("ул. Ленина, д. 12, кв. 4"));
    window.SFEditItem->EdPNum->setText(QStringLiteral("105"));
    window.SFJournal->MmJournal->setPlainText(
        QStringLiteral("Время работы: 1дн 1ч 0мин\n1дн 0ч 12мин  Взятие под охрану\n1дн 0ч 40мин  Снятие с охраны"));
    window.SFROM->MmROM->setPlainText(QStringLiteral(
        "00: 01 00 02 1E 00 00 00 00 00 00 1E 53 5A 5A 00 00\n10: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    window.SFParams->SensMode1->setCurrentIndex(1);
    window.SFParams->SensMode2->setCurrentIndex(2);
    window.SFParams->SensMode3->setCurrentIndex(5);
    window.SFParams->EnBypass->setChecked(true);
    const QList<TAuxWindow*> windows
        = {window.SFEditItem, window.SFJournal,    window.SFROM,      window.SFOptions,      window.SFPort,
           window.SFParams,   window.SFSetupTrink, window.SFMakeFile, window.SFTrinketDefine};
    for (TAuxWindow* aux : windows) {
        aux->Show();
        QCoreApplication::processEvents();
        ok = save(aux, folder, aux->objectName()) && ok;
        aux->Hide();
    }
    return ok ? 0 : 1;
}
