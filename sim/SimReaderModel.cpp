// The reader model: one request frame in, one reply frame (or nothing) out.

#include "sim/SimReader.h"

#include "core/DeviceText.h"
#include "link/TarnCodes.h"
#include "link/TarnFrame.h"
#include "link/ValueCodec.h"

#include <QtEndian>
#include <cmath>
#include <cstring>

namespace {

using namespace TarnCodes;

constexpr int LabelBytes = 16;
constexpr int NameBytes = 16;

QByteArray toCode16(const QString &text)
{
    QByteArray code = textToDeviceCode(text).left(LabelBytes);
    if (code.size() < LabelBytes)
        code.append(QByteArray(LabelBytes - code.size(), ' '));
    return code;
}

void putBE(QByteArray &b, int at, quint32 v, int width)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = char((v >> (8 * (width - 1 - i))) & 0xFF);
}

void putLE(QByteArray &b, int at, quint32 v, int width)
{
    for (int i = 0; i < width; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

quint32 getLE(const QByteArray &b, int at, int width)
{
    quint32 v = 0;
    for (int i = 0; i < width; ++i)
        v |= quint32(quint8(b[at + i])) << (8 * i);
    return v;
}

QDateTime toMinute(const QDateTime &t)
{
    QDateTime m = t;
    m.setTime(QTime(t.time().hour(), t.time().minute(), 0));
    return m;
}

// Readings the generator hands out: names, dosimeter numbers.
struct Wearer {
    const char *name;
    quint32 id;
};
const Wearer Wearers[] = {
    {"Иванов И.И.", 100101},
    {"Петров П.П.", 100102},
    {"Сидорова А.В.", 100117},
    {"Кузнецов С.Н.", 100123},
    {"Смирнова Е.А.", 100140},
    {"Попов Д.М.", 100151},
    {"Васильев К.О.", 100166},
    {"Новикова Т.Р.", 100178},
    {"Фёдоров Г.Б.", 100189},
    {"Морозова Л.Ю.", 100195},
    {"Константинопольский А.А.", 100207},
    {"Щукин Э.Я.", 100212},
};
constexpr int WearerCount = int(sizeof(Wearers) / sizeof(Wearers[0]));

QVector<quint16> peakedSpectrum()
{
    QVector<quint16> s(SimReaderModel::SpectrumChannels);
    quint32 noise = 12345;
    for (int ch = 0; ch < s.size(); ++ch) {
        noise = noise * 1103515245u + 12345u;
        const double x = ch;
        double v = 25.0 + 900.0 * std::exp(-x / 120.0)                        // low-energy continuum
                   + 2400.0 * std::exp(-0.5 * std::pow((x - 661.0) / 22.0, 2))  // main peak
                   + 600.0 * std::exp(-0.5 * std::pow((x - 1173.0) / 30.0, 2))
                   + 520.0 * std::exp(-0.5 * std::pow((x - 1332.0) / 32.0, 2));
        v += double((noise >> 16) % 11) - 5.0;
        s[ch] = quint16(qBound(0.0, v, 65535.0));
    }
    return s;
}

} // namespace

// ---------------------------------------------------------------- SimDosimeter

QString SimDosimeter::label() const
{
    return deviceCodeToText(labelCode);
}

void SimDosimeter::setLabel(const QString &text)
{
    labelCode = toCode16(text);
}

double SimDosimeter::a() const
{
    return decodeDecimalWord(aWord);
}

void SimDosimeter::setA(double value)
{
    aWord = encodeDecimalWord(value);
}

// ---------------------------------------------------------------- the model

SimReaderModel::SimReaderModel()
    : m_infoTail("1.05    ")
{
    m_slots.resize(ArchiveCapacity);
    clearArchive();
    m_dosimeter.setLabel(QStringLiteral("Иванов И.И."));
    m_dosimeter.number = 100101;
    m_dosimeter.totalDose = 12.5f;
    m_dosimeter.setA(1.5);
    m_dosimeter.b = 0xFFF6; // -10
    m_spectrum = peakedSpectrum();
    int maxCh = 200; // the peak above the low-energy continuum
    for (int ch = 200; ch < m_spectrum.size(); ++ch)
        if (m_spectrum[ch] > m_spectrum[maxCh])
            maxCh = ch;
    m_spectrumHeader.doseWord = encodeDecimalWord(2.5e-6);
    m_spectrumHeader.doseCounts = 48213;
    m_spectrumHeader.delta = 44;
    m_spectrumHeader.maxChannel = quint16(maxCh);
    m_spectrumHeader.comparatorChannel = 12;
}

void SimReaderModel::setAddress(quint32 address24)
{
    m_address = address24 & 0xFFFFFF;
}

QDateTime SimReaderModel::clock() const
{
    return QDateTime::currentDateTime().addMSecs(m_clockOffsetMs);
}

quint8 SimReaderModel::param(int i) const
{
    return (i >= 1 && i <= 3) ? m_params[i - 1] : 0;
}

void SimReaderModel::setParam(int i, quint8 value)
{
    if (i >= 1 && i <= 3)
        m_params[i - 1] = value;
}

quint32 SimReaderModel::value(int i) const
{
    return (i >= 1 && i <= 2) ? m_values[i - 1] : 0;
}

void SimReaderModel::setValue(int i, quint32 value)
{
    if (i >= 1 && i <= 2)
        m_values[i - 1] = value;
}

quint8 SimReaderModel::status() const
{
    return m_inserted ? 0x10 : 0x00;
}

QByteArray SimReaderModel::infoText() const
{
    QByteArray t(1, m_modeSwitching ? 'S' : '\0');
    t += m_infoTail.left(8);
    if (t.size() < 9)
        t.append(QByteArray(9 - t.size(), ' '));
    return t;
}

void SimReaderModel::setInfoTail(const QByteArray &eightBytes)
{
    m_infoTail = eightBytes.left(8);
}

// ---------------------------------------------------------------- archive

void SimReaderModel::setRecordCount(int number)
{
    m_recordCount = qBound(0, number, ArchiveCapacity);
}

int SimReaderModel::nextNumber() const
{
    return m_recordCount % ArchiveCapacity + 1;
}

QDateTime SimReaderModel::lastTime() const
{
    if (m_recordCount < 1)
        return QDateTime();
    return m_slots[m_recordCount - 1].time;
}

void SimReaderModel::addRecords(int count)
{
    if (count <= 0)
        return;
    const QDateTime now = toMinute(clock());
    QDateTime t = now.addSecs(-60LL * (count - 1));
    const QDateTime last = lastTime();
    if (last.isValid() && last.addSecs(60) > t)
        t = last.addSecs(60);
    for (int i = 0; i < count; ++i) {
        m_generator = m_generator * 1664525u + 1013904223u;
        const quint32 r = m_generator >> 8;
        const Wearer &w = Wearers[r % WearerCount];
        double dose;
        if (r % 7 == 3)
            dose = 1000.0 + double(r % 98000);            // a large dose, mSv range
        else
            dose = 0.1 + double(r % 990) / 10.0;          // everyday readings
        addRecord(t, w.id, QString::fromUtf8(w.name), dose);
        t = t.addSecs(60);
    }
}

int SimReaderModel::addRecord(const QDateTime &time, quint32 id, const QString &name, double doseMicroSv)
{
    const int number = nextNumber();
    setSlot(number, time, id, name, doseMicroSv);
    m_recordCount = number;
    ++m_recordsWritten;
    return number;
}

void SimReaderModel::setSlot(int number, const QDateTime &time, quint32 id, const QString &name,
                             double doseMicroSv)
{
    if (number < 1 || number > ArchiveCapacity)
        return;
    SimRecord &r = m_slots[number - 1];
    r.number = number;
    r.empty = false;
    r.timeBytes = encodeDeviceDateTime(time);
    r.time = QDateTime();
    decodeDeviceDateTime(r.timeBytes, 0, r.time);
    r.id = id & 0xFFFFFF;
    r.nameCode = toCode16(name);
    r.name = deviceCodeToText(r.nameCode);
    r.doseWord = encodeDecimalWord(doseMicroSv / 1000000.0);
    r.doseMicroSv = decodeDecimalWord(r.doseWord) * 1000000.0;
}

void SimReaderModel::setSlotTimeBytes(int number, const QByteArray &fiveBytes)
{
    if (number < 1 || number > ArchiveCapacity)
        return;
    SimRecord &r = m_slots[number - 1];
    r.empty = false;
    r.timeBytes = fiveBytes.left(5);
    if (r.timeBytes.size() < 5)
        r.timeBytes.append(QByteArray(5 - r.timeBytes.size(), '\0'));
    r.time = QDateTime();
    decodeDeviceDateTime(r.timeBytes, 0, r.time);
}

void SimReaderModel::clearSlot(int number)
{
    if (number < 1 || number > ArchiveCapacity)
        return;
    SimRecord &r = m_slots[number - 1];
    r = SimRecord();
    r.number = number;
    r.timeBytes = QByteArray(5, '\0');
    r.nameCode = QByteArray(NameBytes, '\0');
    r.name = deviceCodeToText(r.nameCode);
}

void SimReaderModel::clearArchive()
{
    for (int n = 1; n <= ArchiveCapacity; ++n)
        clearSlot(n);
    m_recordCount = 0;
}

SimRecord SimReaderModel::record(int number) const
{
    if (number < 1 || number > ArchiveCapacity)
        return SimRecord();
    return m_slots[number - 1];
}

void SimReaderModel::setSpectrum(const QVector<quint16> &channels)
{
    m_spectrum = channels.mid(0, SpectrumChannels);
    m_spectrum.resize(SpectrumChannels);
}

// ---------------------------------------------------------------- frames

QByteArray SimReaderModel::reply(const QByteArray &request, quint8 function, quint8 selector,
                                 const QByteArray &body) const
{
    QByteArray f(10, '\0');
    // Addressed back to whoever asked: the request's Source.
    for (int i = 0; i < 3; ++i)
        f[i] = request.size() >= 6 ? request[3 + i] : char(0xFF);
    putBE(f, 3, m_address, 3);
    f[6] = char(function);
    f[7] = char(selector);
    putLE(f, 8, quint32(body.size()), 2);
    if (body.isEmpty())
        return f + QByteArray(4, '\0');
    QByteArray cs(4, '\0');
    putLE(cs, 0, frameChecksum(f), 4);
    f += cs;
    f += body;
    putLE(cs, 0, frameChecksum(body), 4);
    f += cs;
    return f;
}

QByteArray SimReaderModel::refusal(const QByteArray &request, quint8 code) const
{
    const quint8 selector = request.size() > 7 ? quint8(request[7]) : 0;
    return reply(request, FnRefusal, selector, QByteArray(1, char(code)));
}

QByteArray SimReaderModel::handle(const QByteArray &request)
{
    if (request.size() < EmptyFrameSize || !frameIsConsistent(request))
        return QByteArray();
    const quint32 destination = frameAddress(request, 0);
    if (destination != 0xFFFFFF && destination != m_address)
        return QByteArray();

    const quint8 function = quint8(request[6]);
    const quint8 selector = quint8(request[7]);
    const QByteArray body = frameBody(request);

    if (function == FnPresence)
        return reply(request, FnPresence, selector, QByteArray());
    if (m_busy)
        return refusal(request, RefuseBusy);

    if (function == FnRead && selector == SelRegister)
        return handleRead(request, body);
    if (function == FnWrite && selector == SelRegister)
        return handleWrite(request, body);
    if (function == FnRead && selector == SelSpectrumBlock) {
        if (body.size() != 1 || quint8(body[0]) >= SpectrumChannels / 100)
            return refusal(request, RefuseUnknown);
        const int block = quint8(body[0]);
        QByteArray out(2 + 200, '\0');
        out[0] = char(block);
        for (int i = 0; i < 100; ++i)
            putLE(out, 2 + 2 * i, m_spectrum[block * 100 + i], 2);
        return reply(request, function, selector, out);
    }
    if (function == FnRead && selector == SelSpectrumHeader) {
        if (body.size() != 1 || quint8(body[0]) != 4)
            return refusal(request, RefuseUnknown);
        QByteArray out(19, '\0');
        putLE(out, 7, m_spectrumHeader.doseWord, 2);
        putLE(out, 9, m_spectrumHeader.doseCounts, 4);
        putLE(out, 13, m_spectrumHeader.delta, 2);
        putLE(out, 15, m_spectrumHeader.maxChannel, 2);
        putLE(out, 17, m_spectrumHeader.comparatorChannel, 2);
        return reply(request, function, selector, out);
    }
    return refusal(request, RefuseUnknown);
}

QByteArray SimReaderModel::handleRead(const QByteArray &request, const QByteArray &body)
{
    if (body.size() != 2)
        return refusal(request, RefuseUnknown);
    if (quint8(body[1]) == RegMarker && quint8(body[0]) >= RegTotalDose && quint8(body[0]) <= RegDosimeterNumber)
        return registerRead(request, quint8(body[0]));

    const int number = int(getLE(body, 0, 2));
    QByteArray out(34, '\0');
    out[0] = body[0];
    out[1] = body[1];
    if (number == 0) {
        // The configuration record.
        out.replace(2, 5, encodeDeviceDateTime(clock()));
        out[7] = char(m_params[0]);
        out[8] = char(m_params[1]);
        out[9] = char(m_params[2]);
        putBE(out, 10, m_values[0], 4);
        putBE(out, 14, m_values[1], 4);
        putBE(out, 18, quint32(m_recordCount), 2);
        out[20] = char(status());
        out[21] = char(m_status2);
        out.replace(22, 9, infoText());
        return reply(request, FnRead, SelRegister, out);
    }
    if (number > ArchiveCapacity)
        return refusal(request, RefuseUnknown);
    const SimRecord &r = m_slots[number - 1];
    out.replace(2, 5, r.timeBytes);
    if (!r.empty) {
        putBE(out, 7, r.id, 3);
        out.replace(10, NameBytes, r.nameCode);
        putBE(out, 28, r.doseWord, 2);
    }
    return reply(request, FnRead, SelRegister, out);
}

QByteArray SimReaderModel::handleWrite(const QByteArray &request, const QByteArray &body)
{
    if (body.size() == 2 && quint8(body[0]) == 0x01) {
        m_mode = quint8(body[1]);
        ++m_modeChanges;
        return reply(request, FnWrite, SelRegister, QByteArray());
    }
    if (body.size() == 34 && body[0] == 0 && body[1] == 0) {
        QDateTime written;
        if (!decodeDeviceDateTime(body, 2, written))
            return refusal(request, RefuseUnknown);
        // The clock runs on from the written minute (milliseconds, so that it
        // does not start a hair below that minute).
        m_clockOffsetMs = QDateTime::currentDateTime().msecsTo(written);
        m_params[0] = quint8(body[7]);
        m_params[1] = quint8(body[8]);
        m_params[2] = quint8(body[9]);
        m_values[0] = qFromBigEndian<quint32>(body.constData() + 10);
        m_values[1] = qFromBigEndian<quint32>(body.constData() + 14);
        // The record count and the trailing blanks of the write are not taken:
        // the archive is the reader's own.
        ++m_configWrites;
        return reply(request, FnWrite, SelRegister, QByteArray());
    }
    if (body.size() >= 2 && quint8(body[1]) == RegMarker && quint8(body[0]) >= RegTotalDose && quint8(body[0]) <= RegDosimeterNumber)
        return registerWrite(request, quint8(body[0]), body.mid(2));
    return refusal(request, RefuseUnknown);
}

QByteArray SimReaderModel::dosimeterRefusal(const QByteArray &request) const
{
    if (!m_inserted || (m_modeSwitching && m_mode != 1))
        return refusal(request, RefuseNoDosimeter);
    return QByteArray();
}

QByteArray SimReaderModel::registerRead(const QByteArray &request, quint8 reg)
{
    const QByteArray refused = dosimeterRefusal(request);
    if (!refused.isEmpty())
        return refused;
    QByteArray out(7, '\0');
    out[0] = char(reg);
    out[1] = char(RegMarker);
    switch (reg) {
    case RegTotalDose: {
        quint32 bits;
        std::memcpy(&bits, &m_dosimeter.totalDose, 4);
        putLE(out, 2, bits, 4);
        break;
    }
    case RegMetrology:
        putLE(out, 2, m_dosimeter.aWord, 2);
        putLE(out, 4, m_dosimeter.b, 2);
        break;
    case RegDosimeterNumber:
        putLE(out, 2, m_dosimeter.number, 3);
        out[5] = char(m_dosimeter.accumulation ? 0x02 : 0x00);
        break;
    default: // F3..F6: four label bytes each
        out.replace(2, 4, m_dosimeter.labelCode.mid(4 * (reg - RegLabelFirst), 4));
        break;
    }
    return reply(request, FnRead, SelRegister, out);
}

QByteArray SimReaderModel::registerWrite(const QByteArray &request, quint8 reg, const QByteArray &data)
{
    const QByteArray refused = dosimeterRefusal(request);
    if (!refused.isEmpty())
        return refused;
    switch (reg) {
    case RegTotalDose: {
        if (data.size() != 5)
            return refusal(request, RefuseUnknown);
        const quint32 bits = getLE(data, 0, 4);
        std::memcpy(&m_dosimeter.totalDose, &bits, 4);
        break;
    }
    case RegMetrology:
        // A and B; a reader that needs mode switching is sent one more byte.
        if (data.size() != 4 && data.size() != 5)
            return refusal(request, RefuseUnknown);
        m_dosimeter.aWord = quint16(getLE(data, 0, 2));
        m_dosimeter.b = quint16(getLE(data, 2, 2));
        break;
    case RegDosimeterNumber:
        if (data.size() != 5)
            return refusal(request, RefuseUnknown);
        m_dosimeter.number = getLE(data, 0, 3);
        m_dosimeter.accumulation = (quint8(data[3]) & 0x02) != 0;
        break;
    default: // F3..F6: four label bytes, then a zero byte
        if (data.size() != 4 && data.size() != 5)
            return refusal(request, RefuseUnknown);
        m_dosimeter.labelCode.replace(4 * (reg - RegLabelFirst), 4, data.left(4));
        break;
    }
    return reply(request, FnWrite, SelRegister, QByteArray());
}
