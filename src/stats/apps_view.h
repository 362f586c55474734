#pragma once
#include "stats/apps_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tn {

// What the window "Tallynet Applications" shows: one table of programs for the chosen view,
// biggest total first.
enum class AppsView { Now, Today, Selected, ThisMonth };

struct AppsRow {
    std::string name;
    std::string download; // received
    std::string upload;   // sent
    std::string total;
    std::uint64_t totalBytes = 0;
};

// The day or month the history viewer had chosen: a day of the month (1..31) or a month
// (1..12), and how to name it.
struct AppsSelection {
    bool month = false;
    int index = 0; // 0: none
    std::string title;
};

class AppsTable {
public:
    // Takes the running totals of one second (bytes per program since the start): "Now" is the
    // difference from the previous second, a speed. The first call gives no speed yet.
    void takeSecond(const std::vector<AppUsage>& running);
    // The rows of `view` from the records (day `today` 1..31, month `month` 1..12).
    std::vector<AppsRow> rows(AppsView view, const AppRecords& records, int today, int month,
                              const AppsSelection& selection) const;
    const std::vector<AppUsage>& speeds() const { return m_speeds; }

private:
    std::vector<AppUsage> m_previous;
    bool m_havePrevious = false;
    std::vector<AppUsage> m_speeds;
};

} // namespace tn
