#pragma once
// A program directory in a temporary folder with its own database module, and
// quick ways to fill tables, for the store's tests and benchmarks.

#include "records/DataModule.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class storeDir {
public:
    storeDir();  // a fresh program directory; appState().programDir points at it
    bool isValid() const { return m_tmp.isValid(); }
    QString programDir() const;                     // ends in '/'
    QString dataDir() const;                        // programDir + "Data"
    QString tablePath(const QString &fileName) const;
    // A module on this directory after dataModuleCreate (messages go to the
    // prompt installed by the caller).
    std::unique_ptr<DataModule> start() const;

private:
    QTemporaryDir m_tmp;
};

// The Measures row number i of a generated set: TarnAddress 1000 + i % 3,
// RecNumber i % 2000 + 1, DateTime base + i minutes, ID i % 50, Name "Метка" +
// (i % 97) with alternating letter case, Dose i % 1000 / 10.0, Check i % 2.
QDateTime generatedTime(int i);
// Inserts n generated rows in one transaction with one prepared statement.
void fillMeasures(DataModule &dm, int n);
// The whole content of a file (to check that it was left untouched).
QByteArray fileBytes(const QString &path);
