#include "app/systemstore.h"

#include "app/formstorage.h"

namespace SystemStore {

// The user's hive: a normal user cannot write the machine-wide one, and every setting would be
// lost without a word. An older installation's machine-wide values are taken over once, when
// the user's key holds nothing yet.
std::unique_ptr<QSettings> open()
{
    auto user = std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\") + keyPath(), QSettings::NativeFormat);
    const QString section = TFormStorage::section();
    user->beginGroup(section);
    const bool empty = user->childKeys().isEmpty();
    user->endGroup();
    if (!empty)
        return user;
    QSettings machine(QStringLiteral("HKEY_LOCAL_MACHINE\\") + keyPath(), QSettings::NativeFormat);
    machine.beginGroup(section);
    const QStringList names = machine.childKeys();
    if (names.isEmpty())
        return user;
    user->beginGroup(section);
    for (const QString& name : names)
        user->setValue(name, machine.value(name));
    user->endGroup();
    user->sync();
    return user;
}

} // namespace SystemStore
