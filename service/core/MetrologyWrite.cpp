#include "service/core/MetrologyWrite.h"

#include "link/ValueCodec.h"
#include "records/AuditLog.h"
#include "service/core/ServiceSession.h"

#include <QLocale>
#include <cmath>

const QString MetrologyReadCoefficientsFailedText = QStringLiteral(
    "Не удалось считать текущие коэфициенты дозиметра\r\n\r\n нарушен обмен данными,\r\n не установлен дозиметр,\r\n "
    "или нет прав на редактирование");
const QString MetrologyReadNumberFailedText = QStringLiteral(
    "Не удалось считать текущий номер дозиметра\r\n\r\n нарушен обмен данными,\r\n не установлен дозиметр,\r\n или "
    "нет прав на редактирование");
const QString MetrologyBadBText = QStringLiteral("Некорректное значение коэффициента B\rЗапись не произведена");
const QString MetrologyWriteErrorText = QStringLiteral("Ошибка при попытке записи (возможно некорректные коэффициенты)");

namespace {

constexpr quint32 LargestNumber = 0xFFFFFF;

bool parseInteger(const QString &text, qint64 &value)
{
    bool ok = false;
    value = text.trimmed().toLongLong(&ok, 10);
    return ok;
}

}  // namespace

QString formatCoefficientA(double a)
{
    // Up to 15 significant digits; an exponent is written "E" with its sign
    // only when negative and without leading zeros (1E-7, 1.5E20).
    QString text = QString::number(a, 'g', 15);
    const int e = text.indexOf(QLatin1Char('e'));
    if (e < 0)
        return text;
    QString exponent = text.mid(e + 1);
    QString sign;
    if (exponent.startsWith(QLatin1Char('-')))
        sign = QStringLiteral("-");
    if (exponent.startsWith(QLatin1Char('-')) || exponent.startsWith(QLatin1Char('+')))
        exponent.remove(0, 1);
    while (exponent.size() > 1 && exponent.startsWith(QLatin1Char('0')))
        exponent.remove(0, 1);
    return text.left(e) + QLatin1Char('E') + sign + exponent;
}

QString formatCoefficientB(quint16 b)
{
    return QString::number(qint16(b));
}

bool metrologyWordsOfReply(const QByteArray &reply, quint16 &aWord, quint16 &b)
{
    QByteArray data;
    if (!registerReplyData(reply, data) || data.size() < 4)
        return false;
    aWord = quint16(quint8(data[0]) | (quint8(data[1]) << 8));
    b = quint16(quint8(data[2]) | (quint8(data[3]) << 8));
    return true;
}

bool readMetrologyCoefficientWords(SerialLink *link, MetrologyReading &reading)
{
    const CommandResult<MetrologyData> coefficients = readMetrologyCoefficients(link);
    quint16 aWord = 0, b = 0;
    if (!coefficients.ok() || !metrologyWordsOfReply(coefficients.reply, aWord, b))
        return false;
    reading.aWord = aWord;
    reading.b = b;
    return true;
}

bool readMetrologyNumber(SerialLink *link, MetrologyReading &reading)
{
    const CommandResult<DosimeterNumberData> number = readDosimeterNumber(link);
    if (!number.ok())
        return false;
    reading.number = number.value.number;
    reading.accumulation = number.value.accumulation;
    return true;
}

MetrologyInputCheck planMetrologyWrite(const MetrologyInput &input, const MetrologyReading &opened,
                                       MetrologyPlan &plan)
{
    plan = MetrologyPlan();
    const QString aText = input.aText.trimmed();
    const bool aAsRead = opened.aWord.has_value() && !aText.isEmpty() && aText == input.aTextShown.trimmed();
    bool ok = false;
    const double a = QLocale::c().toDouble(aText, &ok);
    if (!ok)
        return MetrologyInputCheck::BadValue;
    // A changed text is encoded: only what the word can hold is taken.
    if (!aAsRead && (!std::isfinite(a) || !(a == 0 || (a >= 1e-32 && a < 1e32))))
        return MetrologyInputCheck::BadValue;
    qint64 b = 0;
    if (!parseInteger(input.bText, b))
        return MetrologyInputCheck::BadValue;
    if (b < -32768 || b > 65535)
        return MetrologyInputCheck::BadB;
    qint64 number = 0;
    if (!parseInteger(input.numberText, number) || number < 0 || number > LargestNumber)
        return MetrologyInputCheck::BadValue;

    plan.writeCoefficients = input.coefficientsChanged;
    plan.aWord = aAsRead ? *opened.aWord : encodeDecimalWord(a);
    plan.b = quint16(b < 0 ? b + 65536 : b);
    plan.writeNumber = input.numberChanged;
    plan.number = quint32(number);
    plan.shownNumber = opened.number;
    if (opened.number.has_value())
        plan.accumulation = input.accumulation;
    return MetrologyInputCheck::Ok;
}

MetrologyWriteOutcome runMetrologyWrite(SerialLink *link, const MetrologyPlan &plan, const MetrologyInput &input,
                                        bool modeSwitching)
{
    Q_UNUSED(input);
    MetrologyWriteOutcome out;
    if (!plan.writeCoefficients && !plan.writeNumber)
        return out;
    // Nothing is written to a dosimeter other than the one the dialog showed.
    const DosimeterCheck check = checkDosimeter(link, plan.shownNumber);
    if (!check.same()) {
        out.failed = true;
        out.failures = 1;
        out.message = dosimeterCheckText(check);
        return out;
    }
    // Every report says what the dosimeter read back, also after a lost
    // acknowledgement.
    if (plan.writeCoefficients) {
        out.coefficientsSent = true;
        writeMetrologyWord(link, plan.b, plan.aWord, modeSwitching);
        MetrologyReading now;
        const bool read = readMetrologyCoefficientWords(link, now);
        if (read) {
            out.readBack.aWord = now.aWord;
            out.readBack.b = now.b;
        }
        const QString values = read ? QLatin1Char('(') + formatCoefficientA(decodeDecimalWord(*now.aWord))
                                          + QLatin1Char(',') + formatCoefficientB(now.b) + QLatin1Char(')')
                                    : QString();
        if (read && *now.aWord == plan.aWord && now.b == plan.b) {
            out.coefficientsWritten = true;
            out.message = QStringLiteral("Обновлённые коффициенты ") + values + QStringLiteral(" успешно записаны в дозиметр");
        } else {
            ++out.failures;
            out.message = QStringLiteral("Не удалось записать значения коэффициентов");
            if (read)
                out.message += QStringLiteral("\rВ дозиметре коэффициенты ") + values;
        }
    }
    if (plan.writeNumber) {
        // A number that was not read at opening leaves its accumulation flag
        // unknown: it is read now, and without it nothing is written (a
        // cleared flag would switch accumulation off).
        std::optional<bool> accumulation = plan.accumulation;
        if (!accumulation) {
            const CommandResult<DosimeterNumberData> now = readDosimeterNumber(link);
            if (now.ok())
                accumulation = now.value.accumulation;
        }
        CommandResult<DosimeterNumberData> readBack;
        if (accumulation) {
            out.numberSent = true;
            out.accumulationSent = *accumulation;
            writeDosimeterNumber(link, plan.number, *accumulation);
            readBack = readDosimeterNumber(link);
            if (readBack.ok()) {
                out.readBack.number = readBack.value.number;
                out.readBack.accumulation = readBack.value.accumulation;
            }
        }
        if (readBack.ok() && readBack.value.number == plan.number && readBack.value.accumulation == *accumulation) {
            out.numberWritten = true;
            out.message += QStringLiteral("\rРежим (") + (readBack.value.accumulation ? QStringLiteral("1") : QStringLiteral("0"))
                           + QStringLiteral(") и номер дозиметра (") + QString::number(readBack.value.number)
                           + QStringLiteral(")") + QStringLiteral("\r") + QStringLiteral("успешно записаны в дозиметр");
        } else {
            ++out.failures;
            out.message += QStringLiteral("\rНе удалось записать номер дозиметра и режим");
        }
    }
    out.failed = out.failures > 0;
    return out;
}

Result<> auditMetrologyWrite(DataModule &dm, const MetrologyReading &opened, const MetrologyPlan &plan,
                             const MetrologyWriteOutcome &outcome)
{
    if (!outcome.coefficientsSent && !outcome.numberSent)
        return {};
    using Values = QList<QPair<QString, QVariant>>;
    const auto coefficients = [](const MetrologyReading &r, Values &v) {
        if (r.aWord) {
            v.append({QStringLiteral("A"), formatCoefficientA(decodeDecimalWord(*r.aWord))});
            v.append({QStringLiteral("B"), formatCoefficientB(r.b)});
        }
    };
    const auto number = [](const MetrologyReading &r, Values &v) {
        if (r.number) {
            v.append({QStringLiteral("Number"), *r.number});
            v.append({QStringLiteral("Accumulation"), r.accumulation ? 1 : 0});
        }
    };
    Values before, written, readBack;
    coefficients(opened, before);
    number(opened, before);
    if (outcome.coefficientsSent) {
        written.append({QStringLiteral("A"), formatCoefficientA(decodeDecimalWord(plan.aWord))});
        written.append({QStringLiteral("B"), formatCoefficientB(plan.b)});
    }
    if (outcome.numberSent) {
        written.append({QStringLiteral("Number"), plan.number});
        written.append({QStringLiteral("Accumulation"), outcome.accumulationSent ? 1 : 0});
    }
    coefficients(outcome.readBack, readBack);
    number(outcome.readBack, readBack);
    const QString key = plan.shownNumber ? QString::number(*plan.shownNumber)
                                         : (opened.number ? QString::number(*opened.number) : QString());
    return AuditLog(dm).append({AuditLog::DosimeterTable, key, AuditLog::WriteAction, AuditLog::valuesText(before),
                                AuditLog::valuesText(written) + QStringLiteral(" | read back: ")
                                    + AuditLog::valuesText(readBack)});
}
