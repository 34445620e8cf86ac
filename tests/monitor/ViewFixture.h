#pragma once
// A real database in a temporary program directory with Measures rows made
// to order, for the records view and main window tests.

#include "records/DataModule.h"

#include "ScriptedPrompt.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

class ViewDb {
public:
    ViewDb();   // resets the shared state, points programDir at a temporary directory
    ~ViewDb();  // closes the module, resets the shared state

    bool open();  // DataModuleCreate; the announcements go to the scripted prompt

    // Appends one Measures row; returns its Index.
    int add(int recNumber, const QDateTime &time, int id, const QString &name, double dose,
            const QDateTime &recoveryTime = QDateTime::currentDateTime(), const QString &fio = QString(),
            int address = 0x010203);
    // Appends n rows: record numbers 1..n, one minute apart from `start`,
    // ID 100 + i % 7, name "Имя " + i, dose i / 10.
    void addMany(int n, const QDateTime &start = QDateTime(QDate(2026, 12, 1), QTime(8, 0)));

    QTemporaryDir dir;
    ScriptedPrompt prompt;
    DataModule dm;
};
