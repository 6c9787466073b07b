#include "formstorage.h"

#include <QEvent>
#include <QWidget>

namespace {
QString g_storeDirectory;
}

TFormStorage::TFormStorage(QWidget* form)
    : QObject(form)
    , m_form(form)
{
    form->installEventFilter(this);
}

TFormStorage::~TFormStorage() = default;

void TFormStorage::formDestroying()
{
    if (!m_saved)
        save(true);
}

void TFormStorage::restore()
{
    m_saved = false;
    m_restored = true;
}

void TFormStorage::save(bool destroying)
{
    Q_UNUSED(destroying);
    if (!m_restored)
        return;
    m_saved = true;
}

void TFormStorage::setStoreDirectory(const QString& directory)
{
    g_storeDirectory = directory;
}

bool TFormStorage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_form && event->type() == QEvent::Show && !m_shown) {
        m_shown = true;
        restore();
    }
    return QObject::eventFilter(watched, event);
}
