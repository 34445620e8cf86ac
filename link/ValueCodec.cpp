#include "link/ValueCodec.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

quint8 toBcd(int n)
{
    return quint8(((n / 10) * 16 + (n % 10)) & 0xFF);
}

int fromBcd(quint8 b)
{
    return (b / 16) * 10 + (b % 16);
}

bool decodeDeviceDateTime(const char *five, QDateTime &out)
{
    const auto *b = reinterpret_cast<const quint8 *>(five);
    const int minute = fromBcd(b[0]);
    const int hour = fromBcd(b[1]);
    const int day = fromBcd(b[2]);
    const int month = fromBcd(b[3]);
    const int year = fromBcd(b[4]) + 2000;
    const QDate date(year, month, day);
    const QTime time(hour, minute, 0);
    if (!date.isValid() || !time.isValid())
        return false;
    out = QDateTime(date, time);
    return true;
}

bool decodeDeviceDateTime(const QByteArray &bytes, int offset, QDateTime &out)
{
    if (offset < 0 || bytes.size() < offset + 5)
        return false;
    return decodeDeviceDateTime(bytes.constData() + offset, out);
}

QByteArray encodeDeviceDateTime(const QDateTime &moment)
{
    const QDate d = moment.date();
    const QTime t = moment.time();
    QByteArray out;
    out.append(char(toBcd(t.minute())));
    out.append(char(toBcd(t.hour())));
    out.append(char(toBcd(d.day())));
    out.append(char(toBcd(d.month())));
    out.append(char(toBcd(d.year() - 2000)));
    return out;
}

namespace {

// m * 10^p for a whole m, correctly rounded while 10^|p| is exact in a double.
double scaleByPowerOfTen(double m, int p)
{
    static const double exact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (p >= 0 && p <= 22)
        return m * exact[p];
    if (p < 0 && p >= -22)
        return m / exact[-p];
    return m * std::pow(10.0, p);
}

} // namespace

double decodeDecimalWord(quint16 w)
{
    const int m = w & 0x3FF;
    int e = (w >> 10) & 0x3F;
    if (e >= 32)
        e -= 64;
    // M / 100 * 10^E, computed as one scaling so that exact decimal values
    // come out as the nearest double.
    return scaleByPowerOfTen(double(m), e - 2);
}

quint16 encodeDecimalWord(double x)
{
    if (!(x > 0) || !std::isfinite(x))
        return 0;
    const double l = std::log10(x);
    if (l >= -1e-8 && l < 0)
        return 100;
    // The digits come from the shortest decimal text that reads back as the
    // same double, so a value such as 11.0 keeps its digits exactly instead of
    // losing one to a floating-point product a hair below 110.
    char text[64];
    const auto res = std::to_chars(text, text + sizeof(text) - 1, x, std::chars_format::scientific);
    *res.ptr = '\0';
    int m = 0;
    int digits = 0;
    const char *p = text;
    for (; *p && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9' && digits < 3) {
            m = m * 10 + (*p - '0');
            ++digits;
        }
    }
    for (; digits < 3; ++digits)
        m *= 10;
    const int e = (*p == 'e') ? std::atoi(p + 1) : 0;
    const int stored = ((e % 64) + 64) % 64;
    return quint16(m + stored * 1024);
}
