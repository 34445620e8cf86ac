#pragma once
// The detail view "Детальная информация об измерении" (TDetailMeasureRecord):
// every field of the current Measures row in labelled groups, the previous
// and next row in the grid's order and filter, and the operator's mark.
//
// The view shows the row the records grid shows (both follow the table's
// current row). A mark is written into the row at once, so neither closing
// the program nor re-reading the grid can lose it; with no current row there
// is nothing to mark. Shown without waiting; closing only hides it.

#include "records/ui/PlacementStore.h"

#include <QDialog>
#include <QHash>

class DataTable;
class QCheckBox;
class QLineEdit;
class QToolButton;

class DetailMeasureRecord : public QDialog {
    Q_OBJECT
public:
    DetailMeasureRecord(DataTable &measures, const QString &settingsPath = QString(), QWidget *parent = nullptr);
    ~DetailMeasureRecord() override;

    static const QString SectionName;  // "TDetailMeasureRecord"

    // Shows the window (without waiting) and brings it to the front.
    void showView();

    // The displayed text of a field ("" when there is no current row).
    QString valueText(const QString &field) const;
    bool markShown() const;
    bool canMark() const;
    // Whether the store's user may change readings (an auditor may not): the
    // mark is then shown but cannot be changed.
    void setMarksAllowed(bool allowed);

    // The commands: flip the mark of the current row (written at once), and
    // step to the previous / next row (nothing at either end).
    void setMark(bool checked);
    void toggleMark();
    void priorRecord();
    void nextRecord();

    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    DataTable &m_measures;
    PlacementStore m_placement;
    QCheckBox *m_check = nullptr;
    QHash<QString, QLineEdit *> m_values;
    QToolButton *m_prior = nullptr;
    QToolButton *m_next = nullptr;
    bool m_refreshing = false;
    bool m_marksAllowed = true;
};
