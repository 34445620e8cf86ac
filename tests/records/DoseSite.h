#pragma once
// A store with journal bindings and readings, for the dose-control tests.

#include "ScriptedPrompt.h"
#include "StoreFixture.h"

#include "records/DataModule.h"
#include "records/ReadingStore.h"
#include "records/TableSchema.h"

#include <QDateTime>
#include <QSqlQuery>
#include <memory>

inline QDateTime at(int y, int mo, int d, int h = 12, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

struct DoseSite {
    ScriptedPrompt prompt;
    storeDir dir;
    std::unique_ptr<DataModule> dm = dir.start();
    int record = 0;

    // A journal entry; its bookmark.
    QVariant bind(int id, const QString &fio, const QDateTime &from, const QDateTime &to = {})
    {
        DataTable &n = dm->notes();
        n.append();
        n.setFieldValue(fieldName(NotesField::ID), id);
        n.setFieldValue(fieldName(NotesField::FIO), fio);
        n.setFieldValue(fieldName(NotesField::TimeFrom), from);
        if (to.isValid())
            n.setFieldValue(fieldName(NotesField::TimeTo), to);
        n.post();
        return n.getBookmark();
    }
    // A reading stored as the copy cycle stores it.
    int read(int id, const QDateTime &time, double dose)
    {
        return ReadingStore(*dm).storeReading({time, 1, ++record, id, QStringLiteral("Д"), dose});
    }
    // The SQL sum over the rows, independent of any attribution.
    double sqlSum(const QString &where, const QVariantList &params = {})
    {
        QSqlQuery q = dm->measures().exec(
            QStringLiteral("SELECT coalesce(sum(\"Dose\"), 0) FROM %1 WHERE %2").arg(dm->measures().sqlName(), where), params);
        return q.next() ? q.value(0).toDouble() : -1;
    }
};
