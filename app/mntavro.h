#pragma once

#include <QMainWindow>

// The main window.
class TFmTavro final : public QMainWindow
{
    Q_OBJECT

public:
    explicit TFmTavro(QWidget* parent = nullptr);
    ~TFmTavro() override;
};
