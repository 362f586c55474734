#pragma once
#include "stats/outage_list.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QHash>
#include <functional>

class QTableView;

namespace tn {
class CGlobal;
class IClock;
} // namespace tn

namespace tn::ui {

// The shown outages; cell texts are made only when a row is painted.
class OutageTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit OutageTableModel(const IClock& clock, QObject* parent = nullptr);
    void setRows(std::vector<OutageRecord> rows);
    void clear() { setRows({}); }
    const std::vector<OutageRecord>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const IClock& m_clock;
    std::vector<OutageRecord> m_rows;
};

// What the outage list asks of the desktop; an empty member takes the desktop's own.
struct NetFallsHooks {
    std::function<QString()> chooseExportFile; // the save dialog; empty text: cancelled
    std::function<bool()> confirmSetAside;     // the question about an invalid file
    std::function<void(const QString&)> openExported;
};

// "NetFalls list": the recorded outages with a filter, their count and summed duration, and
// an export to a text file.
class CNetFalls : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "NetFalls list";

    CNetFalls(CGlobal& global, const IClock& clock, QWidget* parent = nullptr,
              NetFallsHooks hooks = {});

    QWidget* control(int id) const { return m_controls.value(id); }
    QTableView* list() const { return m_list; }
    OutageTableModel& model() { return *m_model; }

    // Reads NetFalls.dat with the current filter into the list and the totals.
    void loadList();
    void exportList();

    NetFallsHooks hooks;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void onFilterChanged(int index);
    void setMoreFiltersVisible(bool visible);
    void showMessage(const char* name, const QString& title, const QString& text, bool error);

    CGlobal& m_global;
    const IClock& m_clock;
    QHash<int, QWidget*> m_controls;
    QTableView* m_list = nullptr;
    OutageTableModel* m_model = nullptr;
    std::int32_t m_minDuration = 0;
};

} // namespace tn::ui
