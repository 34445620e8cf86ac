#pragma once
// The main window's stored-filter switch ("Фильтр", Ctrl+S) over the records
// view: switched on, the filter list is shown and the entry chosen in it is
// applied to Measures; switched off, the stored filter stops restricting the
// records (only-new, when it is on, stays in force).

#include <QDateTime>

class FilterList;
class RecordsView;

// Runs after the switch changed to `down`; returns whether it stays down.
// Nothing changes (the quick filters included) unless a filter has been
// chosen and its expression accepted by the table; a filter that cannot be
// applied is reported through the prompt with its name and expression.
bool runStoredFilterSwitch(bool down, FilterList &list, RecordsView &view, quint32 lastResponderAddress,
                           const QDateTime &now = QDateTime::currentDateTime());
