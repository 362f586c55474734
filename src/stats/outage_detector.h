#pragma once
// Outage (net fall) detection, run once per sampling tick by the main window.
//
//   COutageDetector detector(global, clock, status);   // status: an IOutageStatus
//   detector.step(receivedThisTick, listedAdapters);   // every tick, before the probe step
//   detector.reset();                                  // adapter list changed or chosen again
//
// The detector shows a running outage through IOutageStatus (status picture 131/141 and the
// "%H:%M:%S" status text) and appends a record to NetFalls.dat when data comes back after more
// than FallSecs silent ticks. It reads LogFalls and FallSecs from CGlobal on every step.
#include <cstdint>
#include <string>

namespace tn {

class CGlobal;
class IClock;
class IOutageNotices;

// The two status controls of the main window, plus the message for a failed write.
class IOutageStatus {
public:
    virtual ~IOutageStatus() = default;
    // One of COutageDetector::kNormalPicture or kAlertPicture.
    virtual void setStatusPicture(int bitmapId) = 0;
    virtual void setStatusText(const std::string& text) = 0;
    // A message over the main window about one of the program's files; the main window shows
    // the texts of CGlobal::fileFailures() through it.
    virtual void showFileError(const std::string& text) = 0;
};

class COutageDetector {
public:
    static constexpr int kNormalPicture = 131;
    static constexpr int kAlertPicture = 141;
    static constexpr const char* kIdleText = "...";

    COutageDetector(CGlobal& global, const IClock& clock, IOutageStatus& status);

    // One sampling tick: incomingBytes received during it, listedAdapters in the combo box.
    void step(std::uint64_t incomingBytes, int listedAdapters);
    // Back to idle without a record: picture 131 and "..." again.
    void reset();
    // Who else hears of an outage (the desktop notices); null: nobody.
    void setNotices(IOutageNotices* notices) { m_notices = notices; }

    std::int32_t silentTicks() const { return m_silentTicks; }
    std::int64_t outageStart() const { return m_outageStart; }
    std::int64_t outageEnd() const { return m_outageEnd; }

private:
    CGlobal& m_global;
    const IClock& m_clock;
    IOutageStatus& m_status;
    IOutageNotices* m_notices = nullptr;
    std::int32_t m_silentTicks = 0;
    std::uint32_t m_previousIncoming = 0; // low 32 bits of the last tick's bytes; 0 = silent
    std::int64_t m_outageStart = 0;
    std::int64_t m_outageEnd = 0;
};

} // namespace tn
