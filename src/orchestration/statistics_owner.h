#pragma once
#include "stats/apps_file.h"
#include "stats/hour_file.h"
#include "stats/stat_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tn {

// What the once-a-second tick takes from the statistics owner: the capture totals (read without a
// lock while the capture worker adds to them), the LAN-only flag and the periodic save.
class ICaptureTotals {
public:
    virtual ~ICaptureTotals() = default;
    virtual std::uint64_t totalReceived() const = 0;
    virtual std::uint64_t totalSent() const = 0;
    virtual void setLanOnly(int on) = 0;
    virtual void save() = 0;
    // Frames the capture lost since the program started (the kernel's ring was full); any thread.
    virtual std::uint64_t framesDropped() const { return 0; }
    // Takes the selected adapter's IPv6 addresses again (temporary addresses change daily).
    virtual void refreshAddresses() {}
};

// Everything the main window uses of the statistics owner: the adapter list, opening capture on
// one adapter, stopping it and the final save.
class IStatisticsOwner : public ICaptureTotals {
public:
    // Builds the adapter list and, for an index of 0 or more, opens capture on that adapter.
    // 1 on success, 0 with lastErrorText() set.
    virtual int initialise(int adapterIndex) = 0;
    virtual std::string lastErrorText() const = 0;
    // Stops the capture worker (short wait) and closes the devices.
    virtual void stopCapture() = 0;
    // Interfaces came or went: renews the adapter list without touching a capture whose adapter
    // is still listed unchanged (true); false when the caller must stop capture and reload.
    virtual bool refreshAdapterList() { return false; }
    // Stops the capture worker (1000 ms wait) and saves the statistics once more.
    virtual void stopAndSave() = 0;
    virtual int adapterCount() const = 0;
    virtual std::string adapterDescription(int index) const = 0;
    virtual int selectedIndex() const = 0;
    virtual std::string selectedAdapterName() const = 0;
    // The interface name of adapter `index`; empty outside the list.
    virtual std::string adapterName(int index) const {
        (void)index;
        return {};
    }
    // The interface of the default route (IPv4, else IPv6), as the system says now; empty when
    // there is none or it cannot tell.
    virtual std::string defaultRouteInterface() const { return {}; }
    // Whether the system tells the default route's interface at all ("Automatic" is offered).
    virtual bool canFollowDefaultRoute() const { return false; }
    // Sets one category to zero in every day and month record while capture may run
    // (the options dialog's reset of the custom category).
    virtual void clearCategory(int category) = 0;
    // A copy of the day and month records for the history viewer; every counter is read whole
    // while the capture worker adds to them.
    virtual StatRecords records() const = 0;
    // The traffic per program: a copy of its day and month records, and the bytes per program
    // since the capture began (for speeds). Nothing while the setting CountApps is 0.
    virtual std::optional<AppRecords> appRecords() const { return std::nullopt; }
    virtual std::vector<AppUsage> appTotals() const { return {}; }
    // A copy of the last 48 hours' records, read like records().
    virtual HourRecords hours() const { return {}; }
};

} // namespace tn
