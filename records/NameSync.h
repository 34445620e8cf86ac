#pragma once
// The name synchronisation: every reading in Measures gets the name of the
// person who held that dosimeter at the time of the reading, as the journal
// Notes says, and every journal entry gets the dose summed over its period.
//
// The journal entries are taken in TimeFrom order (ties in key order); where
// the periods of one dosimeter overlap, the entry taken later wins the shared
// readings, and each entry's dose sums every reading of its own period. Both
// bounds are inclusive; a blank TimeFrom counts as the zero date-time
// (30.12.1899), an unreadable one as the largest date-time (the entry then
// matches nothing); a blank or unreadable TimeTo is an open end. Readings
// whose time is blank get no name. While the journal's filter is on only the
// entries it shows are taken; the readings of the others keep no name.

class DataModule;

class NameSync {
public:
    explicit NameSync(DataModule &dm);

    // Posts a pending edit of either table, leaves Measures sorted by
    // DateTime and Notes by TimeFrom, and does the whole work in one
    // transaction. False when it failed (nothing is changed then). Either
    // way both tables' views re-read their rows afterwards.
    bool run();

private:
    DataModule &m_dm;
};
