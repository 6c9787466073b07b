#pragma once

#include <QObject>
#include <QString>

class QWidget;

// FormStorage: keeps the installer's options, the last zone parameters, the grid's column
// widths and the main window's placement between runs. It restores them at the main window's
// first showing and saves them on its close request, or at its destruction when no save was
// made since the restore. Controls are found by object name among the form's children.
class TFormStorage final : public QObject
{
    Q_OBJECT

public:
    explicit TFormStorage(QWidget* form);
    ~TFormStorage() override;

    // Called by the form's destructor before its own shut-down steps.
    void formDestroying();

    void restore();
    void save(bool destroying);

    // Where the store lives; tests point it at a temporary folder.
    static void setStoreDirectory(const QString& directory);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_form;
    bool m_restored = false;
    bool m_saved = false;
    bool m_shown = false;
};
