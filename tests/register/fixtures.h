#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

class RecordStore;
class Record;

namespace Fixtures {
// Windows-1251 bytes of a text written here in UTF-8.
QByteArray cp(const char* utf8);
// The 108 bytes of the master record and record 105 at "ул. Мира, 7".
QByteArray workedExampleBytes();
void fillWorkedExample(RecordStore& store);
// A record with each field independently null, empty, Cyrillic, plain or at its full width.
Record randomRecord(QRandomGenerator& rng);
QByteArray hex(const char* spaced);
// Register number k: its first record is numbered k, the rest (up to 120 records) follow from k.
void fillNumberedRegister(RecordStore& store, quint32 k);
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);
} // namespace Fixtures
