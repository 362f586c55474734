#pragma once
#include "stats/apps_view.h"
#include "ui/widgets/bitmap_dlg.h"

#include <QHash>

class QComboBox;
class QTableWidget;
class QTimer;

namespace tn {
class IClock;
class IStatisticsOwner;
} // namespace tn

namespace tn::ui {

// "Tallynet Applications": the programs that used the line, biggest first, for "Now" (the last
// second's speeds, refreshed every second), "Today", the day or month the history viewer had
// chosen, and "This month". It shows what the statistics owner counted and changes nothing.
class CAppsDlg : public CBitmapDlg {
    Q_OBJECT
public:
    // `stats` may be null, and may count no programs (CountApps=0): the table then says so.
    CAppsDlg(const IClock& clock, IStatisticsOwner* stats, AppsSelection selection,
             QWidget* parent = nullptr);

    QWidget* control(int id) const { return m_controls.value(id); }
    QTableWidget* table() const { return m_table; }
    QComboBox* view() const { return m_view; }
    // Takes the second's totals and shows the chosen view again; the timer calls it.
    void refresh();

private:
    void showView(AppsView view);
    AppsView chosen() const;

    const IClock& m_clock;
    IStatisticsOwner* m_stats;
    AppsSelection m_selection;
    AppsTable m_model;
    QHash<int, QWidget*> m_controls;
    QComboBox* m_view = nullptr;
    QTableWidget* m_table = nullptr;
    QTimer* m_timer = nullptr;
};

} // namespace tn::ui
