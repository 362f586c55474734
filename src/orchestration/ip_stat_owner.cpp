#include "orchestration/ip_stat_owner.h"

#include "app/global.h"
#include "capture/ip_stat.h"
#include "platform/adapter_source.h"

namespace tn {

namespace {

// The main window's view of CIPStat.
class IPStatOwner final : public IStatisticsOwner {
public:
    IPStatOwner(CGlobal& global, const IClock& clock) : m_global(global), m_stat(global, clock) {}
    std::uint64_t totalReceived() const override { return m_stat.totalReceived(); }
    std::uint64_t totalSent() const override { return m_stat.totalSent(); }
    void setLanOnly(int on) override { m_stat.setLanOnly(on); }
    void save() override { m_stat.save(); }
    void refreshAddresses() override { m_stat.refreshIpv6Addresses(); }
    int initialise(int index) override { return m_stat.initialise(index); }
    std::string lastErrorText() const override { return m_stat.lastErrorText(); }
    void stopCapture() override { m_stat.stopCapture(); }
    bool refreshAdapterList() override { return m_stat.refreshKeepingCapture(); }
    std::uint64_t framesDropped() const override { return m_stat.framesDropped(); }
    void stopAndSave() override { m_stat.stopAndSave(); }
    int adapterCount() const override { return m_stat.adapterCount(); }
    std::string adapterDescription(int i) const override { return m_stat.adapterDescription(i); }
    int selectedIndex() const override { return m_stat.selectedIndex(); }
    std::string selectedAdapterName() const override { return m_stat.selectedAdapterName(); }
    std::string adapterName(int i) const override {
        return i >= 0 && i < m_stat.adapterCount() ? m_stat.record(i).name : std::string{};
    }
    std::string defaultRouteInterface() const override {
        IAdapterSource* adapters = m_global.os().adapters;
        return adapters ? adapters->defaultRouteInterface() : std::string{};
    }
    bool canFollowDefaultRoute() const override {
        const IAdapterSource* adapters = m_global.os().adapters;
        return adapters && adapters->reportsDefaultRoute();
    }
    void clearCategory(int category) override { m_stat.clearCategory(category); }
    StatRecords records() const override { return m_stat.snapshot(); }
    std::optional<AppRecords> appRecords() const override {
        if (!m_stat.apps())
            return std::nullopt;
        return m_stat.apps()->snapshot();
    }
    std::vector<AppUsage> appTotals() const override {
        return m_stat.apps() ? m_stat.apps()->runningTotals() : std::vector<AppUsage>{};
    }
    HourRecords hours() const override { return m_stat.hourSnapshot(); }

private:
    CGlobal& m_global;
    CIPStat m_stat;
};

} // namespace

std::unique_ptr<IStatisticsOwner> makeStatisticsOwner(CGlobal& global, const IClock& clock) {
    return std::make_unique<IPStatOwner>(global, clock);
}

} // namespace tn
