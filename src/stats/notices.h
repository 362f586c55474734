#pragma once
#include <cstdint>
#include <string>

namespace tn {

class CGlobal;
class IClock;
class INotifier;

// What the outage detector tells beyond its status controls.
class IOutageNotices {
public:
    virtual ~IOutageNotices() = default;
    // The silence just passed the threshold: an outage that began at `start`.
    virtual void outageBegan(std::int64_t start) = 0;
    // Data came back and the outage from `start` to `end` was logged.
    virtual void outageEnded(std::int64_t start, std::int64_t end) = 0;
};

// The program's desktop notices: outages (with NotifyFalls) and the data plan (with
// NotifyPlan), through the platform's notifier; nothing without one.
class CNotices final : public IOutageNotices {
public:
    static constexpr const char* kSummary = "Tallynet";

    CNotices(CGlobal& global, const IClock& clock, INotifier* notifier);

    void outageBegan(std::int64_t start) override;
    void outageEnded(std::int64_t start, std::int64_t end) override;
    // A notice of the data plan; the plan decides when, this only whether it can be shown.
    void plan(const std::string& summary, const std::string& body);

    // "No data received since 14:02" and "Data again after 00:03:12".
    static std::string outageBeganText(const IClock& clock, std::int64_t start);
    static std::string outageEndedText(std::int64_t start, std::int64_t end);

private:
    CGlobal& m_global;
    const IClock& m_clock;
    INotifier* m_notifier;
};

} // namespace tn
