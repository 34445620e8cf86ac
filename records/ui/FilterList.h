#pragma once
// The filter list "Настройка фильтра измерений" (TMeasureFiltr): the
// operator's named filters for the records, two columns "Фильтр" and
// "Формула", rows dragged into order, entries added, changed and deleted at
// once (closing with Cancel undoes nothing). Accepting it picks the selected
// entry as the filter to apply.
//
// The list is read from the settings file at every opening and written at
// every closing, with the window's placement; the formula editor
// (FilterEditor) is its own and lives as long as the list.

#include "records/StoredFilters.h"

#include <QDialog>
#include <QStringList>

class QTreeWidget;
class QTreeWidgetItem;
class FilterEditor;
class PlacementStore;

class FilterList : public QDialog {
    Q_OBJECT
public:
    explicit FilterList(QWidget *parent = nullptr);
    ~FilterList() override;

    void setSettingsFile(const QString &path);

    // The entries "name=formula" in the order shown (empty rows left out).
    QStringList entries() const;
    void setEntries(const QStringList &entries);
    int selectedRow() const;       // -1 without a selection
    void selectRow(int row);
    // The selected entry; empty without a selection or on an empty row.
    QString selectedEntry() const;

    FilterEditor *editor() const { return m_editor; }

    // The commands of the list.
    void addFilter();
    void editFilter();
    void deleteFilter();
    void insertEmptyRow(bool atEnd);  // Insert / Down on the last row
    void deleteSelectedRow();         // Ctrl+Delete: without asking

    // Shows the list (modal, through the prompt) and, when it is accepted
    // with an entry selected, makes the filter text of that entry: its
    // parameters asked in the parameter window, translated and checked
    // against `fields`.
    StoredFilterChoice choose(const QDateTime &now, quint32 lastResponderAddress,
                              const QList<FilterField> &fields);

protected:
    void showEvent(QShowEvent *event) override;
    void done(int result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QTreeWidgetItem *makeItem(const QString &entry) const;
    static bool isEmptyRow(const QTreeWidgetItem *item);
    void loadList();
    void saveList();

    QTreeWidget *m_list = nullptr;
    FilterEditor *m_editor = nullptr;
    PlacementStore *m_placement = nullptr;
    QString m_settingsPath;
};
