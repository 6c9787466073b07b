#include "mntavro.h"

TFmTavro::TFmTavro(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Установщик параметров QM407"));
    setFixedSize(736, 412);
}

TFmTavro::~TFmTavro() = default;
