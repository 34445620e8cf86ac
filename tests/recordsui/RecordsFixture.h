#pragma once
// The ground of the records window tests: a program directory of its own
// (a fresh temporary directory for each test), the databases created in it,
// and the scripted prompt answering every question.

#include "ScriptedPrompt.h"

#include "records/DataModule.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>

struct RecordsFixture {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScriptedPrompt> prompt;
    std::unique_ptr<DataModule> dm;

    // A fresh program directory with new databases; false when it cannot be made.
    bool open();
    void close();

    // A journal row; an invalid `to` leaves the dosimeter issued. Returns the
    // row's bookmark.
    QVariant addNote(int id, const QString &fio, const QDateTime &from, const QDateTime &to = QDateTime());
};
