#include "ViewFixture.h"

#include "core/Prompt.h"
#include "core/AppState.h"

ViewDb::ViewDb()
{
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');
    setDataModule(&dm);
}

ViewDb::~ViewDb()
{
    dm.dataModuleDestroy();
    if (dataModule() == &dm)
        setDataModule(nullptr);
    appState().reset();
}

bool ViewDb::open()
{
    dm.dataModuleCreate(toldBy(activePrompt()));
    prompt.asked.clear();
    return dm.measures().active() && dm.devices().active();
}

int ViewDb::add(int recNumber, const QDateTime &time, int id, const QString &name, double dose,
                const QDateTime &recoveryTime, const QString &fio, int address)
{
    DataTable &m = dm.measures();
    m.append();
    m.setFieldValue(QStringLiteral("TarnAddress"), address);
    m.setFieldValue(QStringLiteral("RecNumber"), recNumber);
    m.setFieldValue(QStringLiteral("DateTime"), time);
    m.setFieldValue(QStringLiteral("ID"), id);
    m.setFieldValue(QStringLiteral("Name"), name);
    m.setFieldValue(QStringLiteral("Dose"), dose);
    m.setFieldValue(QStringLiteral("RecoveryTime"), recoveryTime);
    if (!fio.isEmpty())
        m.setFieldValue(QStringLiteral("FIO"), fio);
    m.setFieldValue(QStringLiteral("Check"), false);
    m.post();
    return m.asInteger(QStringLiteral("Index"));
}

void ViewDb::addMany(int n, const QDateTime &start)
{
    Transaction t(dm);
    for (int i = 1; i <= n; ++i)
        add(i, start.addSecs(60 * (i - 1)), 100 + i % 7, QStringLiteral("Имя ") + QString::number(i), i / 10.0);
    t.commit();
}
