#pragma once
// The operator's stored filters: the friendly formula form and its
// translation into the filter language of the tables (FilterLanguage.h).
//
// A formula may use, besides the filter language itself:
// - the display labels of the Measures fields, in any letter case;
// - " И " and " ИЛИ " (upper case, one blank each side) for AND and OR;
// - the macros {TARN Сейчас}, {Сейчас}, {Сегодня}, {Начало недели},
//   {Начало месяца}, {Начало года}, in any letter case;
// - parameters "[default]" whose values are asked each time the filter is
//   applied; the text before each "[" (from the start or the previous "]")
//   is its prompt.

#include "records/FilterLanguage.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// Expands the macros, then the word operators and the display labels of
// measuresFields (in field order, so "№ Записи" goes before "№"). Word
// operators and labels inside quoted texts are left as written, so that
// Name='№ 5' still looks for "№ 5".
// now gives the date-time macros ("dd.MM.yyyy HH:mm:ss" in single quotes,
// the time left out at exactly midnight; dates "dd.MM.yyyy"),
// lastResponderAddress replaces {TARN Сейчас}.
QString translateFilter(const QString &formula, const QDateTime &now, quint32 lastResponderAddress,
                        const QList<FilterField> &measuresFields);

// One parameter of a formula: the prompt before its "[" and the default
// value between the brackets.
struct FilterParameter {
    QString prompt;
    QString defaultValue;
};

// Splits a formula into its parameters. rest (when given) receives the text
// after the last "]" (the whole formula when there is no "["). Raises
// EFilterError("Некорректное выражение фильтра") when a "]" comes before its
// "[" or is missing.
QList<FilterParameter> parseFilterParameters(const QString &formula, QString *rest = nullptr);

// What the accepted parameter window gives: prompt + value over the
// parameters in order (values missing at the end count as empty), then rest,
// the text after the last "]" (from ParseFilterParameters), so that
// "Dose>[1000] AND Check" accepted with 25 gives "Dose>25 AND Check".
QString buildParameterResult(const QList<FilterParameter> &params, const QStringList &values,
                             const QString &rest = QString());

// The filter list a fresh installation starts with: "name=formula" lines.
QStringList defaultFilterList();

// The name and the formula of one "name=formula" line (the name ends at the
// first "=").
QString filterEntryName(const QString &entry);
QString filterEntryFormula(const QString &entry);
