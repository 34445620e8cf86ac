#include "RecordsFixture.h"

#include "core/Prompt.h"
#include "core/AppState.h"

bool RecordsFixture::open()
{
    dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid())
        return false;
    appState().reset();
    appState().programDir = dir->path() + QLatin1Char('/');
    prompt = std::make_unique<ScriptedPrompt>();
    dm = std::make_unique<DataModule>();
    dm->dataModuleCreate(toldBy(activePrompt()));
    prompt->asked.clear();
    return true;
}

void RecordsFixture::close()
{
    if (dm)
        dm->dataModuleDestroy();
    dm.reset();
    prompt.reset();
    dir.reset();
}

QVariant RecordsFixture::addNote(int id, const QString &fio, const QDateTime &from, const QDateTime &to)
{
    DataTable &notes = dm->notes();
    notes.append();
    notes.setFieldValue(QStringLiteral("ID"), id);
    notes.setFieldValue(QStringLiteral("FIO"), fio);
    notes.setFieldValue(QStringLiteral("TimeFrom"), from);
    if (to.isValid())
        notes.setFieldValue(QStringLiteral("TimeTo"), to);
    notes.post();
    return notes.getBookmark();
}
