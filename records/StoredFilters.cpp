#include "records/StoredFilters.h"

#include "core/TextCode.h"
#include "core/SettingsKeys.h"
#include "records/FilterLanguage.h"

#include <QRegularExpression>

const QString SectionMeasureFiltr = SettingsKeys::TMeasureFiltr::Section;
const QString SectionFiltrRecordDetail = SettingsKeys::TFiltrRecordDetail::Section;
const QString KeyFilterList = SettingsKeys::TMeasureFiltr::FilterList;

QStringList readFilterList(const IniFile &ini)
{
    QStringList entries = defaultFilterList();
    ini.readList(SectionMeasureFiltr, KeyFilterList, entries);
    return entries;
}

void writeFilterList(IniFile &ini, const QStringList &entries)
{
    ini.writeList(SectionMeasureFiltr, KeyFilterList, entries);
}

void readFilterEditorValues(const IniFile &ini, FilterEditorValues &v)
{
    const QString &s = SectionFiltrRecordDetail;
    ini.readList(s, SettingsKeys::TFiltrRecordDetail::MemoLines, v.memoLines);
    ini.readList(s, SettingsKeys::TFiltrRecordDetail::Examples, v.examples);
    v.exampleIndex = ini.readInteger(s, SettingsKeys::TFiltrRecordDetail::ExampleIndex, v.exampleIndex);
    v.caseSensitive = ini.readBool(s, SettingsKeys::TFiltrRecordDetail::CaseSensitive, v.caseSensitive);
    v.noPartialCompare = ini.readBool(s, SettingsKeys::TFiltrRecordDetail::NoPartialCompare, v.noPartialCompare);
}

void writeFilterEditorValues(IniFile &ini, const FilterEditorValues &v)
{
    const QString &s = SectionFiltrRecordDetail;
    ini.writeList(s, SettingsKeys::TFiltrRecordDetail::MemoLines, v.memoLines);
    ini.writeList(s, SettingsKeys::TFiltrRecordDetail::Examples, v.examples);
    ini.writeInteger(s, SettingsKeys::TFiltrRecordDetail::ExampleIndex, v.exampleIndex);
    ini.writeBool(s, SettingsKeys::TFiltrRecordDetail::CaseSensitive, v.caseSensitive);
    ini.writeBool(s, SettingsKeys::TFiltrRecordDetail::NoPartialCompare, v.noPartialCompare);
}

QString oneLineFormula(const QString &text)
{
    static const QRegularExpression lineBreaks(QStringLiteral("[ \\t]*(\\r\\n|\\r|\\n)[ \\t]*"));
    QString s = text;
    s.replace(lineBreaks, QStringLiteral(" "));
    return s.trimmed();
}

QString defaultedFilterName(const QString &formula)
{
    QString name = formula;
    name.remove(QLatin1Char('='));
    return name.trimmed();
}

namespace {

QString unstorable(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        const int len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(i, len);
        if (fromCp1251(toCp1251(one)) != one)
            return one;
        i += len - 1;
    }
    return QString();
}

QString unstorableText(const QString &what, const QString &character)
{
    return QStringLiteral("%1 содержит символ \"%2\", который нельзя сохранить в настройках программы.\r\n"
                          "Замените его.")
        .arg(what, character);
}

} // namespace

QString filterNameProblem(const QString &name)
{
    if (name.contains(QLatin1Char('=')))
        return QStringLiteral("Наименование фильтра не может содержать знак \"=\".");
    const QString c = unstorable(name);
    return c.isEmpty() ? QString() : unstorableText(QStringLiteral("Наименование фильтра"), c);
}

QString filterFormulaProblem(const QString &formula)
{
    const QString c = unstorable(formula);
    return c.isEmpty() ? QString() : unstorableText(QStringLiteral("Содержание фильтра"), c);
}

QString filterEntry(const QString &name, const QString &formula)
{
    return name + QLatin1Char('=') + formula;
}

StoredFilterChoice prepareStoredFilter(const QString &entry, const FilterParameterAsker &askParameters,
                                       const QDateTime &now, quint32 lastResponderAddress,
                                       const QList<FilterField> &fields)
{
    StoredFilterChoice c;
    c.name = filterEntryName(entry);
    QString formula = filterEntryFormula(entry);
    if (formula.trimmed().isEmpty())
        return c;  // an empty row or an entry without a formula: as Cancel
    try {
        if (formula.contains(QLatin1Char('['))) {
            QString rest;
            const QList<FilterParameter> params = parseFilterParameters(formula, &rest);
            QStringList values;
            for (const FilterParameter &p : params)
                values << p.defaultValue;
            if (!askParameters || !askParameters(params, values)) {
                // The formula as it stands, its parameters unreplaced.
                c.outcome = StoredFilterChoice::Outcome::Failed;
                c.expression = translateFilter(formula, now, lastResponderAddress, fields);
                c.errorText = storedFilterErrorText(c.name, c.expression);
                return c;
            }
            const QString text = buildParameterResult(params, values, rest);
            if (!text.isEmpty())
                formula = text;
        }
        c.expression = translateFilter(formula, now, lastResponderAddress, fields);
        compileFilter(c.expression, fields);
    } catch (const ERuvoError &) {
        c.outcome = StoredFilterChoice::Outcome::Failed;
        c.errorText = storedFilterErrorText(c.name, c.expression);
        return c;
    }
    c.outcome = StoredFilterChoice::Outcome::Ready;
    return c;
}

QString storedFilterErrorText(const QString &name, const QString &expression)
{
    return QStringLiteral("Некорректное выражение фильтра \"") + name + QStringLiteral("\":\r\n") + expression
        + QStringLiteral("\r\n\r\nИзмените выражение фильтра в конструкторе фильтров.");
}
