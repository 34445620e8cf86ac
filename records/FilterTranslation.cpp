#include "records/FilterTranslation.h"

namespace {

const QString kBadFormula = QStringLiteral("Некорректное выражение фильтра");

QString dateText(const QDate &d) { return d.toString(QStringLiteral("dd.MM.yyyy")); }

QString quoted(const QString &text) { return QLatin1Char('\'') + text + QLatin1Char('\''); }

// Replaces every occurrence of from by to, but only outside quoted texts, so
// that a label or a word inside a constant ('№ 5', 'Иванов И ИЛИ Петров')
// stays what the operator wrote. cs chooses whether letter case counts.
QString replaceOutsideQuotes(const QString &text, const QString &from, const QString &to, Qt::CaseSensitivity cs)
{
    if (from.isEmpty())
        return text;
    QString out;
    out.reserve(text.size());
    bool quoted = false;
    int i = 0;
    const int n = text.size();
    while (i < n) {
        if (text.at(i) == QLatin1Char('\'')) {
            // A doubled quote inside a text flips twice and so stays inside.
            quoted = !quoted;
            out += text.at(i++);
            continue;
        }
        if (!quoted && QStringView(text).mid(i).startsWith(from, cs)) {
            out += to;
            i += from.size();
            continue;
        }
        out += text.at(i++);
    }
    return out;
}

} // namespace

QString translateFilter(const QString &formula, const QDateTime &now, quint32 lastResponderAddress,
                        const QList<FilterField> &measuresFields)
{
    const QDate today = now.date();
    QString s = formula;
    s.replace(QStringLiteral("{TARN Сейчас}"), QString::number(lastResponderAddress), Qt::CaseInsensitive);

    QString nowText = dateText(today);
    if (now.time() != QTime(0, 0))
        nowText += QLatin1Char(' ') + now.time().toString(QStringLiteral("HH:mm:ss"));
    s.replace(QStringLiteral("{Сейчас}"), quoted(nowText), Qt::CaseInsensitive);
    s.replace(QStringLiteral("{Сегодня}"), quoted(dateText(today)), Qt::CaseInsensitive);
    s.replace(QStringLiteral("{Начало недели}"), quoted(dateText(today.addDays(1 - today.dayOfWeek()))),
              Qt::CaseInsensitive);
    s.replace(QStringLiteral("{Начало месяца}"), quoted(dateText(QDate(today.year(), today.month(), 1))),
              Qt::CaseInsensitive);
    s.replace(QStringLiteral("{Начало года}"), quoted(dateText(QDate(today.year(), 1, 1))), Qt::CaseInsensitive);

    s = replaceOutsideQuotes(s, QStringLiteral(" И "), QStringLiteral(" AND "), Qt::CaseSensitive);
    s = replaceOutsideQuotes(s, QStringLiteral(" ИЛИ "), QStringLiteral(" OR "), Qt::CaseSensitive);

    for (const FilterField &f : measuresFields)
        s = replaceOutsideQuotes(s, f.label, f.name, Qt::CaseInsensitive);
    return s;
}

QList<FilterParameter> parseFilterParameters(const QString &formula, QString *rest)
{
    QList<FilterParameter> params;
    QString left = formula;
    while (left.contains(QLatin1Char('['))) {
        const int open = left.indexOf(QLatin1Char('['));
        const int close = left.indexOf(QLatin1Char(']'));
        if (close < open)
            throw EFilterError(kBadFormula);
        params.append({left.left(open), left.mid(open + 1, close - open - 1)});
        left = left.mid(close + 1);
    }
    if (rest)
        *rest = left;
    return params;
}

QString buildParameterResult(const QList<FilterParameter> &params, const QStringList &values, const QString &rest)
{
    QString result;
    for (int i = 0; i < params.size(); ++i)
        result += params.at(i).prompt + values.value(i);
    return result + rest;
}

QStringList defaultFilterList()
{
    return {QStringLiteral("Записи с начала месяца=DateTime>={Начало месяца}"),
            QStringLiteral("С превышением дозы (>10 мкЗв)=Dose>10"),
            QStringLiteral("С превышением дозы (>? мкЗв)=Dose>[1000]"),
            QStringLiteral("Только подключенный ТРЕМ=TARN Адрес={TARN Сейчас}"),
            QStringLiteral("С пометкой пользователя=Check")};
}

QString filterEntryName(const QString &entry)
{
    const int eq = entry.indexOf(QLatin1Char('='));
    return eq < 0 ? entry : entry.left(eq);
}

QString filterEntryFormula(const QString &entry)
{
    const int eq = entry.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : entry.mid(eq + 1);
}
