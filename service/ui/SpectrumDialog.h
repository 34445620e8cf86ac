#pragma once
// The spectrum view "Спектр АЦП": reads the reader's ADC spectrum when it is
// first shown and again on "Считать спектр", plots it as touching bars and
// pages through it 301 points at a time. The read itself runs off the main
// thread (SpectrumReader); the view only draws what arrives. Synchronisation
// is paused from the view's creation to its destruction. Its position is
// kept in the settings file, section "TSpectrumADC".

#include "link/DeviceCommands.h"
#include "service/core/SpectrumData.h"

#include <QDialog>
#include <QString>

class QAreaSeries;
class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QLineEdit;
class QLineSeries;
class QProgressBar;
class QPushButton;
class QValueAxis;
class QWidget;
class ILinkCycle;
class IPrompt;
class SpectrumReader;

class SpectrumDialog : public QDialog {
    Q_OBJECT
public:
    static const QString SectionName;  // "TSpectrumADC": object name and settings section

    // Reads through the link of `cycle`, tells the operator through `prompt`;
    // `settingsPath`: the settings file (empty: the position is not kept).
    SpectrumDialog(ILinkCycle &cycle, IPrompt &prompt, const QString &settingsPath, QWidget *parent = nullptr);
    ~SpectrumDialog() override;

    const SpectrumData &data() const { return m_data; }
    const SpectrumPaging &paging() const { return m_paging; }
    SpectrumReader &reader() const { return *m_reader; }
    bool reading() const;
    // The horizontal and vertical ranges the chart shows, and the page text.
    void shownRange(double &xFrom, double &xTo, double &yFrom, double &yTo) const;
    QString pageText() const;
    QChartView *chartView() const { return m_chartView; }

public slots:
    // "Считать спектр": a new read, unless one is under way.
    void readSpectrum();
    void pageUp();
    void pageDown();
    void pageLeft();
    void pageRight();
    // A double click on the chart: the chart's appearance (bar and outline
    // colours, grid lines) in a small editor; the device is not read.
    void editChart();

protected:
    void showEvent(QShowEvent *event) override;
    // A close asked for during a read stops the read after its block under
    // way and closes the view when the read has ended.
    void done(int result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void onHeader(const SpectrumHeaderData &header);
    void onBlock(int block, const QVector<quint16> &counts);
    void onFinished(bool ok, bool cancelled, const QString &error);
    void redrawSeries();
    void updateAxes();
    void placePageText();
    void restorePlacement();
    void savePlacement();

    ILinkCycle &m_cycle;
    IPrompt &m_prompt;
    QString m_settingsPath;
    SpectrumReader *m_reader = nullptr;
    SpectrumData m_data;
    SpectrumPaging m_paging;
    bool m_shown = false;
    bool m_wasPaused = false;
    bool m_closeRequested = false;
    int m_closeResult = QDialog::Rejected;

    QChart *m_chart = nullptr;
    QChartView *m_chartView = nullptr;
    QLineSeries *m_upper = nullptr;
    QAreaSeries *m_bars = nullptr;
    QValueAxis *m_axisX = nullptr;
    QValueAxis *m_axisY = nullptr;
    QGraphicsSimpleTextItem *m_pageText = nullptr;
    QPushButton *m_readButton = nullptr;
    QProgressBar *m_progress = nullptr;
    QWidget *m_panelInfo = nullptr;
    QLineEdit *m_editDose = nullptr;
    QLineEdit *m_editDoseInt = nullptr;
    QLineEdit *m_editDelta = nullptr;
    QLineEdit *m_editMax = nullptr;
    QLineEdit *m_editComparator = nullptr;
};
