#include "service/core/SpectrumData.h"

#include <QtMath>
#include <algorithm>
#include <cmath>

void SpectrumData::begin()
{
    m_counts.clear();
    m_counts.reserve(Channels);
    m_minimum = NoMinimum;
    m_maximum = 0;
    m_begun = true;
}

void SpectrumData::addBlock(const QVector<quint16> &counts)
{
    if (!m_begun)
        begin();
    for (const quint16 c : counts) {
        m_counts.append(c);
        if (c < m_minimum)
            m_minimum = c;
        if (c > m_maximum)
            m_maximum = c;
    }
}

QPointF SpectrumData::point(int index) const
{
    if (index <= 0)
        return QPointF(0, 0);
    if (index > m_counts.size())
        return QPointF(Channels, 0);
    return QPointF(index - 1, m_counts.at(index - 1));
}

int SpectrumPaging::pageCount(int points)
{
    return std::max(1, (points + PointsPerPage - 1) / PointsPerPage);
}

int SpectrumPaging::pageFor(int points) const
{
    return std::clamp(m_page, 1, pageCount(points));
}

void SpectrumPaging::left(int points)
{
    m_paged = true;
    m_page = pageFor(points);
    if (m_page > 1)
        --m_page;
}

void SpectrumPaging::right(int points)
{
    m_paged = true;
    m_page = pageFor(points);
    if (m_page < pageCount(points))
        ++m_page;
}

void SpectrumPaging::up(const SpectrumData &data)
{
    m_paged = false;
    // Before the first count the minimum is the 65535 a read starts with: a
    // floor there would put every bar below the axis.
    m_axisMinimum = data.hasMinimum() ? data.minimum() : 0;
}

void SpectrumPaging::down()
{
    m_paged = false;
    m_axisMinimum = 0;
}

void SpectrumPaging::xRange(const SpectrumData &data, double &from, double &to) const
{
    const int points = data.pointCount();
    if (!m_paged || points == 0) {
        from = 0;
        to = SpectrumData::Channels;
        return;
    }
    const int page = pageFor(points);
    const int first = (page - 1) * PointsPerPage;
    const int last = std::min(points, page * PointsPerPage) - 1;
    from = data.point(first).x() - 0.5;
    to = data.point(last).x() + 0.5;
}

QString SpectrumPaging::pageText(int points) const
{
    if (!m_paged)
        return QString();
    return QStringLiteral("Страница %1 из %2").arg(pageFor(points)).arg(pageCount(points));
}

QString formatSpectrumDose(double sieverts)
{
    // 'E' with one decimal gives the two digits; the exponent is widened to
    // three digits (Qt writes at least two).
    QString text = QString::number(sieverts, 'E', 1);
    const int e = text.indexOf(QLatin1Char('E'));
    if (e < 0 || e + 2 > text.size())
        return text;
    const QString sign = text.mid(e + 1, 1);
    QString digits = text.mid(e + 2);
    while (digits.size() < 3)
        digits.prepend(QLatin1Char('0'));
    return text.left(e + 1) + sign + digits;
}
