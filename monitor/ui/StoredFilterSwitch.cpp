#include "monitor/ui/StoredFilterSwitch.h"

#include "core/Prompt.h"
#include "monitor/core/RecordsView.h"
#include "records/DataTable.h"
#include "records/ui/FilterList.h"

bool runStoredFilterSwitch(bool down, FilterList &list, RecordsView &view, quint32 lastResponderAddress,
                           const QDateTime &now)
{
    if (!down) {
        view.extFiltrDown = false;
        view.extFiltrUp();
        return false;
    }
    DataTable *table = view.table();
    const QList<FilterField> fields = table ? table->filterFields() : measuresFilterFields();
    const StoredFilterChoice choice = list.choose(now, lastResponderAddress, fields);
    switch (choice.outcome) {
    case StoredFilterChoice::Outcome::Cancelled:
        return false;
    case StoredFilterChoice::Outcome::Failed:
        activePrompt().message(MsgKind::Error, choice.errorText, PromptButton::Ok);
        return false;
    case StoredFilterChoice::Outcome::Ready:
        break;
    }
    if (!view.applyStoredFilter(choice.expression, choice.name)) {
        activePrompt().message(MsgKind::Error, storedFilterErrorText(choice.name, choice.expression), PromptButton::Ok);
        return false;
    }
    return true;
}
