#pragma once
#include "stats/data_plan.h"
#include <cstdint>

#include <QDialog>
#include <QHash>

namespace tn {
class CGlobal;
class IClock;
class IStatisticsOwner;
} // namespace tn

namespace tn::ui {

// "Data plan": edits the plan (every change stored at once, as in the options) and shows the
// use of the current plan month as the core computes it from the day records.
class CDataPlanDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Data plan";
    static constexpr const char* kCountedItems[2] = {"Download and upload", "Download only"};

    // `stats` may be null: the figures then count nothing.
    CDataPlanDlg(CGlobal& global, const IClock& clock, const IStatisticsOwner* stats,
                 QWidget* parent = nullptr);

    QWidget* control(int id) const { return m_controls.value(id); }
    // Takes the records again and shows the figures.
    void refresh();

private:
    void onAllowance(const QString& text);
    void onCounted(int index);
    void onStartDay(const QString& text);
    void onWarnPercent(const QString& text);
    // A whole number typed into a box: stored when it is in [low, high] and new.
    void storeRanged(const QString& text, int low, int high, std::int32_t& setting,
                     const char* key);
    void onNotify(bool on);
    void setValue(int id, const std::string& text);

    CGlobal& m_global;
    const IStatisticsOwner* m_stats;
    CDataPlanWatch m_watch;
    QHash<int, QWidget*> m_controls;
};

} // namespace tn::ui
