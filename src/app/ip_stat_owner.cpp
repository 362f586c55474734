#include "app/ip_stat_owner.h"

#include "app/global.h"
#include "capture/net_adapter.h"

namespace tn {

namespace {

// The adapter list alone, until capture is part of the build.
class ListOnlyOwner final : public IStatisticsOwner {
public:
    explicit ListOnlyOwner(CGlobal& global) : m_list(global.os().adapters) {}
    std::uint64_t totalReceived() const override { return 0; }
    std::uint64_t totalSent() const override { return 0; }
    void setLanOnly(int) override {}
    void save() override {}
    int initialise(int) override { return m_list.buildAdapterList(); }
    std::string lastErrorText() const override { return m_list.lastErrorText(); }
    void stopCapture() override {}
    void stopAndSave() override {}
    int adapterCount() const override { return m_list.adapterCount(); }
    std::string adapterDescription(int i) const override { return m_list.adapterDescription(i); }
    int selectedIndex() const override { return m_list.selectedIndex(); }
    std::string selectedAdapterName() const override { return m_list.selectedAdapterName(); }

private:
    CNetAdapter m_list;
};

} // namespace

std::unique_ptr<IStatisticsOwner> makeStatisticsOwner(CGlobal& global, const IClock&) {
    return std::make_unique<ListOnlyOwner>(global);
}

} // namespace tn
