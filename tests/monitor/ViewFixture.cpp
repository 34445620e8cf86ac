#include "ViewFixture.h"

#include "core/AppState.h"

ViewDb::ViewDb()
{
    App().reset();
    App().ProgramDir = dir.path() + QLatin1Char('/');
    setDataModule(&dm);
}

ViewDb::~ViewDb()
{
    dm.dataModuleDestroy();
    if (dataModule() == &dm)
        setDataModule(nullptr);
    App().reset();
}

bool ViewDb::open()
{
    dm.dataModuleCreate();
    prompt.asked.clear();
    return dm.Measures.Active() && dm.Devices.Active();
}

int ViewDb::add(int recNumber, const QDateTime &time, int id, const QString &name, double dose,
                const QDateTime &recoveryTime, const QString &fio, int address)
{
    DataTable &m = dm.Measures;
    m.Append();
    m.SetFieldValue(QStringLiteral("TarnAddress"), address);
    m.SetFieldValue(QStringLiteral("RecNumber"), recNumber);
    m.SetFieldValue(QStringLiteral("DateTime"), time);
    m.SetFieldValue(QStringLiteral("ID"), id);
    m.SetFieldValue(QStringLiteral("Name"), name);
    m.SetFieldValue(QStringLiteral("Dose"), dose);
    m.SetFieldValue(QStringLiteral("RecoveryTime"), recoveryTime);
    if (!fio.isEmpty())
        m.SetFieldValue(QStringLiteral("FIO"), fio);
    m.SetFieldValue(QStringLiteral("Check"), false);
    m.Post();
    return m.AsInteger(QStringLiteral("Index"));
}

void ViewDb::addMany(int n, const QDateTime &start)
{
    Transaction t(dm);
    for (int i = 1; i <= n; ++i)
        add(i, start.addSecs(60 * (i - 1)), 100 + i % 7, QStringLiteral("Имя ") + QString::number(i), i / 10.0);
    t.commit();
}
