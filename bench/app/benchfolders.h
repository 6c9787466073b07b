#pragma once

#include "register/record.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <vector>

// The folders of a benchmark that runs the real main window: the tool's settings and
// single-instance marker in a private folder, never the user's, and a work folder made current
// that holds a large register as Trinket.dat. Construct before the application object, which
// reads the folders' variables.
class BenchFolders final
{
public:
    BenchFolders();
    // Writes a register of `count` records (console numbers and addresses varied); false on a
    // write error.
    bool writeRegister(int count);

private:
    QTemporaryDir m_home;
    QTemporaryDir m_work;
};

QByteArray largeRegister(int count);

// The records of the register written, read from the data file as the tool reads them, for the
// plain work the window's figures are set against.
std::vector<Record> registerRecords();
