#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <functional>

class RecordStore;
class Record;

// Bytes for the tests: hex, Windows-1251 texts, files, the worked example and random registers.
namespace Fixtures {
// Windows-1251 bytes of a text written here in UTF-8.
QByteArray cp(const char* utf8);
QByteArray hex(const char* spaced);
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);
// The 108 bytes of the master record and record 105 at "ул. Мира, 7", read from the file the
// fuzz corpus shares.
QByteArray workedExampleBytes();
void fillWorkedExample(RecordStore& store);
// A record with each field independently null, empty, Cyrillic, plain or at its full width.
Record randomRecord(QRandomGenerator& rng);
// WriteByte frames for values in cells from `cell` on, and the ReadByte frames of ReadTriple
// for the slot at `cell` (highest cell first).
QByteArray writeCells(int cell, const QByteArray& values);
QByteArray readSlot(int cell);
// The message of the DeviceError the call throws; empty when it throws none.
QString errorOf(const std::function<void()>& call);
// Register number k: its first record is numbered k, the rest (up to 120 records) follow from k.
void fillNumberedRegister(RecordStore& store, quint32 k);
} // namespace Fixtures
