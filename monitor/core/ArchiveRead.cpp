// The full archive read: every slot of the reader's ring, 1 to 2000, into
// Measures, with a question at each record that cannot be taken.

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/Prompt.h"
#include "link/URUVOProtocol.h"
#include "monitor/core/SyncEngine.h"
#include "records/StoredDateTime.h"

#include <QThread>

void SyncEngine::ReadFullArchive()
{
    // The reader is talked to in the link thread; the window goes on.
    if (QThread::currentThread() == thread())
        RunOnLinkThread([this] { FullArchiveRead(); }, true);
    else
        FullArchiveRead();
}

void SyncEngine::FullArchiveRead()
{
    AppState &app = App();
    // The cycle stays away from the link while the read runs; a worker
    // command under way ends first.
    ForegroundLinkUse linkUse(m_link, 100);
    PassUnderWay pass(*this);
    struct Finally {
        SyncEngine *engine;
        ~Finally() { engine->Out().SetProgress(0, 0); }
    } finally{this};

    if (!ReaderNormalMode) {
        OnMain([] {
            Prompt().message(MsgKind::Warning,
                             QStringLiteral("Для полного считывания архива необходимо чтобы считыватель находился в нормальном режиме работы"),
                             BtnOk);
        });
        return;
    }
    Out().SetStatusText(QStringLiteral("Полное чтение архива"));

    // The position this read leaves is at most the reader's newest record at
    // the start: a reading that arrives during the read may land in a slot
    // after it that the loop has passed while it was empty, and the next
    // catch-up goes on from the position (the duplicate check keeps the
    // readings the loop stored after it single). Slots after that newest
    // record hold either older readings of a wrapped ring or readings that
    // arrived during the read. Up to it, the position stops before a record
    // that could not be taken (a failed request, a table error), so the next
    // pass tries it again; an empty slot there cannot fill any more and is
    // passed. Until the read stores something the position stays as it was.
    const int newestAtStart = ReaderConfig().RecordCount;
    bool storedAny = false;
    bool unbroken = true;
    int reached = 0;
    QDateTime reachedTime = MinDateTime();
    auto keepPosition = [&](int i, bool stored, bool emptySlot) {
        if (i <= newestAtStart) {
            if (stored && unbroken) {
                reached = i;
                reachedTime = LastRecTime;
            } else if (!stored && !emptySlot) {
                unbroken = false;
            }
        }
        storedAny = storedAny || stored;
        // The position is the main thread's, which saves it at a close.
        if (storedAny)
            OnMain([&] {
                LastRecNumber = reached;
                LastRecTime = reachedTime;
            });
    };

    for (int i = 1; i <= ArchiveCapacity; ++i) {
        bool failed = false;
        bool stored = false;
        bool emptySlot = false;
        try {
            stored = StoreArchiveRecord(i, i, ArchiveCapacity);
        } catch (const EFormatError &) {
            failed = true;
            emptySlot = true;
        } catch (...) {
            failed = true;
        }
        keepPosition(i, stored, emptySlot);
        // A close of the window meanwhile ends the read at once.
        if (app.FaceNotReady || Interrupted())
            break;
        if (!failed) {
            if (StopSynchroChecked())
                break;
            continue;
        }
        // An empty slot right after the newest record is the end of an
        // archive that has not wrapped yet.
        const bool endOfArchive = i == static_cast<int>(ReaderConfig().RecordCount) + 1;
        // Unattended, the read stops at the end of the archive and at a slot
        // past the newest record, and goes on over a slot up to the newest
        // record that cannot be taken, so the readings behind it are stored.
        // The question is asked in the main thread while this one waits.
        int answer = BtnOk;
        OnMain([&] {
            answer = endOfArchive
                ? Prompt().ask(MsgKind::Warning,
                               QStringLiteral("Найдена последняя запись архива (%1)\r\nПрекратить дальнейшее считывание ?").arg(i - 1),
                               BtnOk | BtnCancel, BtnOk)
                : Prompt().ask(MsgKind::Error,
                               QStringLiteral("Ошибка считывания записи %1\r\nПрекратить дальнейшее считывание ?").arg(i),
                               BtnOk | BtnCancel, i <= static_cast<int>(ReaderConfig().RecordCount) ? BtnCancel : BtnOk);
        });
        if (answer == BtnOk)
            break;
    }
    if (app.SyncState != SyncOffline && !app.FaceNotReady)
        Out().SetStatusText(QStringLiteral("Получен полный архив записей"));
}
