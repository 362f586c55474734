#pragma once
#include "stats/history_table.h"
#include "ui/widgets/bitmap_dlg.h"

#include <QHash>
#include <optional>

class QCheckBox;
class QLabel;

namespace tn {
class CGlobal;
class IClock;
class IStatisticsOwner;
} // namespace tn

namespace tn::ui {

class CNSChartCtrl;

// The traffic history viewer: a bar chart of the days of this month (or of the months) and the
// selected day's or month's traffic by category. It shows the statistics owner's records as
// they are when it fills, and changes nothing.
class CLogViewer : public CBitmapDlg {
    Q_OBJECT
public:
    // `stats` may be null: the chart then stays empty and the cells keep "...".
    CLogViewer(CGlobal& global, const IClock& clock, IStatisticsOwner* stats,
               QWidget* parent = nullptr);

    QWidget* control(int id) const { return m_controls.value(id); }
    CNSChartCtrl* chart() const { return m_chart; }
    const HistoryTable& table() const { return m_table; }

private:
    void buildControls();
    std::optional<StatRecords> snapshot() const;
    void fillChart(const StatRecords* records);
    void fillTable(const StatRecords* records);
    void showTable();
    void onChartClicked(int index);
    void onShowMonths(bool checked);
    void onApplications();
    void onShowHours(bool checked);

    CGlobal& m_global;
    const IClock& m_clock;
    IStatisticsOwner* m_stats;
    HistoryTable m_table;
    QHash<int, QWidget*> m_controls;
    CNSChartCtrl* m_chart = nullptr;
    QCheckBox* m_showMonths = nullptr;
    QCheckBox* m_showHours = nullptr;
    QLabel* m_cells[kHistoryRows.size()][3] = {};
    QLabel* m_customName = nullptr;
};

} // namespace tn::ui
