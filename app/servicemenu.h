#pragma once

#include "app/auxwindow.h"

#include <QObject>

#include <memory>

class InstallerCore;
class QAction;
class QMenu;
class QPlainTextEdit;
class SerialTrace;
class TSFROM;

// The differences between the controller's memory and an image.
class TSFCompare final : public TAuxWindow
{
    Q_OBJECT
public:
    explicit TSFCompare(QWidget* mainWindow);
    QPlainTextEdit* MmCompare;
};

// The "Сервис" menu: keeping the journal and memory images on disk, comparing the memory with an
// image, the serial trace and the check after a parameter write. Its two options live in a group
// of their own in the settings store.
class TServiceMenu final : public QObject
{
    Q_OBJECT

public:
    // Adds its items to menu; the journal's memo and the dump window get their context menus.
    TServiceMenu(InstallerCore& core, QMenu* menu, QPlainTextEdit* journalMemo, TSFROM* dumpWindow,
                 QWidget* mainWindow);
    ~TServiceMenu() override;

    QAction* NSaveJournalText;
    QAction* NSaveJournalCsv;
    QAction* NPrintJournal;
    QAction* NSaveImage;
    QAction* NCompareImage;
    QAction* NSerialTrace;
    QAction* NCheckParamWrite;
    TSFCompare* SFCompare;

    static QString settingsGroup() { return QStringLiteral("Service"); }

    // The context menu of a memo with the commands that apply to it.
    QMenu* contextMenu(QPlainTextEdit* memo);

    void NSaveJournalTextClick();
    void NSaveJournalCsvClick();
    void NPrintJournalClick();
    void NSaveImageClick();
    void NCompareImageClick();

private:
    QString consoleNumber() const;
    QString installationFolder() const;
    void saveJournal(const QString& suffix, const QString& filter, const QByteArray& bytes);
    void followCore();
    void applyTrace();
    void storeOption(const QString& name, bool on);

    InstallerCore& m_core;
    QWidget* m_window;
    QPlainTextEdit* m_journalMemo;
    TSFROM* m_dumpWindow;
    std::unique_ptr<SerialTrace> m_trace;
};
