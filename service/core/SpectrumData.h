#pragma once
// The reader's ADC spectrum as the spectrum view plots it: 1500 channels read
// in 15 blocks of 100, framed by two zero points at X 0 and X 1500 so that the
// horizontal axis spans 0..1500 whatever was read; the paging of those points
// (301 a page) and the floor of the left axis. Headless: the view only draws.

#include <QPointF>
#include <QString>
#include <QVector>
#include <QtGlobal>

class SpectrumData {
public:
    static constexpr int Channels = 1500;
    static constexpr int Blocks = 15;
    static constexpr int BlockChannels = 100;
    static constexpr int NoMinimum = 65535;

    // A read starts: no counts, the two framing points, minimum 65535.
    void begin();
    // The next block's counts, appended after those read so far.
    void addBlock(const QVector<quint16> &counts);

    const QVector<quint16> &counts() const { return m_counts; }
    int countsRead() const { return m_counts.size(); }
    // The smallest count read so far (65535 before the first one).
    int minimum() const { return m_minimum; }
    bool hasMinimum() const { return !m_counts.isEmpty(); }
    int maximum() const { return m_maximum; }

    // Every point in ascending X: (0,0), the counts at X 0.., (1500,0).
    // Empty before the first begin().
    int pointCount() const { return m_begun ? m_counts.size() + 2 : 0; }
    QPointF point(int index) const;

private:
    QVector<quint16> m_counts;
    int m_minimum = NoMinimum;
    int m_maximum = 0;
    bool m_begun = false;
};

// Paging of the plotted points and the floor of the left axis; both persist
// across reads within one view.
class SpectrumPaging {
public:
    static constexpr int PointsPerPage = 301;

    bool paged() const { return m_paged; }
    int page() const { return m_page; }
    static int pageCount(int points);
    // The page shown for `points` points (the stored page held to the count).
    int pageFor(int points) const;

    // Paging on; the previous page when the current one is above 1.
    void left(int points);
    // Paging on; the next page when the current one is below the count.
    void right(int points);
    // Paging off; the floor becomes the common minimum of the channels, or
    // stays 0 when no count was read.
    void up(const SpectrumData &data);
    // Paging off; the floor back to 0.
    void down();

    int axisMinimum() const { return m_axisMinimum; }

    // Horizontal range of what is shown: 0..1500 unpaged; the page's points
    // (each bar one unit wide, centred on its X) when paged.
    void xRange(const SpectrumData &data, double &from, double &to) const;
    // "Страница %d из %d" while paged, else empty.
    QString pageText(int points) const;

private:
    bool m_paged = false;
    int m_page = 1;
    int m_axisMinimum = 0;
};

// The dose of the summary values: two significant digits and at least three
// exponent digits, "." as separator (1.5E-005).
QString formatSpectrumDose(double sieverts);
