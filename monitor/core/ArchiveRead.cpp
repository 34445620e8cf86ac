// The full archive read: every slot of the reader's ring, 1 to 2000, into
// Measures, with a question at each record that cannot be taken.

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/Prompt.h"
#include "link/URUVOProtocol.h"
#include "monitor/core/SyncEngine.h"

#include <QTimer>

void SyncEngine::ReadFullArchive()
{
    AppState &app = App();
    // The cycle stays away from the link while the read runs; a worker
    // command under way ends first.
    ForegroundLinkUse linkUse(100);
    struct Finally {
        SyncEngine *engine;
        ~Finally()
        {
            engine->EnableTimerAfterWork();
            engine->View().SetProgress(0, 0);
        }
    } finally{this};

    if (!app.ReaderNormalMode) {
        Prompt().message(MsgKind::Warning,
                         QStringLiteral("Для полного считывания архива необходимо чтобы считыватель находился в нормальном режиме работы"),
                         BtnOk);
        return;
    }
    m_timer->stop();
    View().SetStatusText(QStringLiteral("Полное чтение архива"));
    for (int i = 1; i <= ArchiveCapacity; ++i) {
        bool failed = false;
        try {
            StoreArchiveRecord(i, i, ArchiveCapacity);
            if (StopSynchroChecked())
                break;
        } catch (...) {
            failed = true;
        }
        if (!failed)
            continue;
        // An empty slot right after the newest record is the end of an
        // archive that has not wrapped yet.
        const bool endOfArchive = i == static_cast<int>(TRec0().RecordCount) + 1;
        // Unattended, the read stops at the end of the archive and at a slot
        // past the newest record, and goes on over a slot up to the newest
        // record that cannot be taken, so the readings behind it are stored.
        const int answer = endOfArchive
            ? Prompt().ask(MsgKind::Warning,
                           QStringLiteral("Найдена последняя запись архива (%1)\r\nПрекратить дальнейшее считывание ?").arg(i - 1),
                           BtnOk | BtnCancel, BtnOk)
            : Prompt().ask(MsgKind::Error,
                           QStringLiteral("Ошибка считывания записи %1\r\nПрекратить дальнейшее считывание ?").arg(i),
                           BtnOk | BtnCancel, i <= static_cast<int>(TRec0().RecordCount) ? BtnCancel : BtnOk);
        if (answer == BtnOk)
            break;
    }
    if (app.SyncState != SyncOffline)
        View().SetStatusText(QStringLiteral("Получен полный архив записей"));
}
