#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSettings;
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

    // Both throw std::runtime_error: a placement value that is no text, a store that can't be
    // written. The event handlers show such errors through the uncaught-error display.
    void restore();
    // Puts the stored port name back before the start-up opens the port, so the port in use is
    // the one the port window shows. The full restore at the first showing repeats it.
    void restorePort();
    void save(bool destroying);

    bool restored() const { return m_restored; }
    bool saved() const { return m_saved; }

    // Where the store lives; tests point it at a temporary folder. Empty: the system's place.
    static void setStoreDirectory(const QString& directory);
    // The store as QSettings sees it: the registry key on Windows, an INI file elsewhere.
    static std::unique_ptr<QSettings> openStore();
    // The subkey holding every value, named after the main window's class.
    static QString section() { return QStringLiteral("TFmTavro"); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restorePlacement(QSettings& store);
    void savePlacement(QSettings& store, bool destroying);
    void restoreProperties(QSettings& store);
    void saveProperties(QSettings& store);

    QWidget* m_form;
    bool m_restored = false;
    bool m_saved = false;
    bool m_shown = false;
};
