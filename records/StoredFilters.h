#pragma once
// The operator's stored filters for the records: the list of named formulas
// kept in the settings file, the rules the list and the formula editor keep
// to, and the way from a chosen entry to the filter text the table takes.
//
// An entry is one line "name=formula": the name ends at the first "=", the
// formula may hold more of them. The formula language and its translation
// are in records/FilterTranslation.h.

#include "core/IniFile.h"
#include "records/FilterTranslation.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

extern const QString SectionMeasureFiltr;       // "TMeasureFiltr": the filter list window
extern const QString SectionFiltrRecordDetail;  // "TFiltrRecordDetail": the formula editor
extern const QString KeyFilterList;             // "VLE_Filters_Strings"

// ---- the list in the settings file
// The list kept under [TMeasureFiltr.VLE_Filters_Strings] (Count, Item0...).
// A file without it, or with an empty one, gives the five entries a fresh
// installation starts with. Values are kept whole: a formula with commas,
// "=" signs or quotes comes back as written.
QStringList readFilterList(const IniFile &ini);
void writeFilterList(IniFile &ini, const QStringList &entries);

// The formula editor's stored control values in [TFiltrRecordDetail] and its
// list sections. The examples box and the two check boxes are kept but read
// by nothing: filters compare texts with letter case and prefix "*".
struct FilterEditorValues {
    QStringList memoLines;          // "MemoFilter_Lines"
    QStringList examples;           // "ComboBox1_Items"
    int exampleIndex = -1;          // "ComboBox1_ItemIndex"
    bool caseSensitive = false;     // "cbCaseSensitive_Checked"
    bool noPartialCompare = false;  // "cbNoPartialCompare_Checked"
};
void readFilterEditorValues(const IniFile &ini, FilterEditorValues &v);
void writeFilterEditorValues(IniFile &ini, const FilterEditorValues &v);

// ---- the rules of the editor
// The formula as it is stored: its lines joined by one blank each, blanks
// at either end dropped (an entry is one line of the list and of the file).
QString oneLineFormula(const QString &text);
// The name an entry takes when the operator left it empty: the formula
// without its "=" signs, so that the line reads back with the whole formula.
QString defaultedFilterName(const QString &formula);
// Why a name, or a formula, cannot be stored; empty when it can. A typed
// name holding "=" would lose its end to the formula when read back; a
// character the settings file's code page has no byte for would come back
// as "?".
QString filterNameProblem(const QString &name);
QString filterFormulaProblem(const QString &formula);
QString filterEntry(const QString &name, const QString &formula);

// ---- applying an entry
// Asks the values of a formula's parameters (prompts and defaults given;
// values filled on return). False: the operator cancelled.
using FilterParameterAsker = std::function<bool(const QList<FilterParameter> &params, QStringList &values)>;

struct StoredFilterChoice {
    enum class Outcome {
        Cancelled,  // nothing to apply: nothing changes, no message
        Failed,     // errorText for the operator; nothing changes
        Ready,      // expression compiled against the table's fields
    };
    Outcome outcome = Outcome::Cancelled;
    QString name;
    QString expression;
    QString errorText;
};

// From the chosen entry to the filter text: the parameters asked, the
// formula translated (macros at `now`, {TARN Сейчас} as lastResponderAddress)
// and checked against `fields` (those of Measures), without touching any
// table. An empty entry or an empty formula is Cancelled. Cancelling the
// parameter window fails with the formula as it stands, brackets and all:
// nothing is applied, whatever text follows the last parameter.
StoredFilterChoice prepareStoredFilter(const QString &entry, const FilterParameterAsker &askParameters,
                                       const QDateTime &now, quint32 lastResponderAddress,
                                       const QList<FilterField> &fields);

// The operator's message for a filter that cannot be applied: its name and
// the expression as far as it was built.
QString storedFilterErrorText(const QString &name, const QString &expression);
