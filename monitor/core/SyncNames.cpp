// The synchronisation engine: the name synchronisation of the "Сервис" menu
// and the question before it; the pass itself is NameSync
// (records/NameSync.*).

#include "monitor/core/SyncEngine.h"

#include "core/Prompt.h"
#include "records/NameSync.h"
#include "records/DataModule.h"

void SyncEngine::syncNamesFromJournal()
{
    DataModule *dm = database();
    if (!dm || !NameSync(*dm).run())
        prompt().message(MsgKind::Error,
                         QStringLiteral("В процессе синхронизации возникла ошибка, возможно необходимо произвести чистку таблиц"),
                         PromptButton::Ok);
    m_namesOutOfStep = false;
    emit namesSynchronised();
}

void SyncEngine::askNameSync(bool extNotesDown)
{
    if (!m_namesOutOfStep || !extNotesDown)
        return;
    // Unattended, the names wait for an operator: nothing is rewritten unseen
    // and the flag stays set.
    const PromptButton answer = prompt().ask(MsgKind::Warning,
                                    QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"),
                                    PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel);
    if (answer == PromptButton::Ok)
        syncNamesFromJournal();
}
