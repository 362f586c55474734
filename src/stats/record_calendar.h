#pragma once
#include "stats/record_dates.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace tn {

class IClock;
struct LocalTime;

// A set of records indexed by day of the month (0..30) and month (0..11) that the calendar
// starts afresh as their dates come round again.
class IDatedRecords {
public:
    virtual ~IDatedRecords() = default;
    virtual void clearDayRecord(int index) = 0;
    virtual void clearMonthRecord(int index) = 0;
    virtual void clearAllRecords() = 0;
    // Records finer than a day (the hours) start the slot `now` falls in and return when it
    // ends, so that one range check per frame serves days and slots alike.
    virtual std::int64_t enterSlot(std::int64_t /*now*/) { return INT64_MAX; }
};

// The date rule of every day and month history (stat.dat's and those kept beside it): which
// record a moment counts into, which records a new date clears, and what time a save stamps.
// One writer (the capture worker, or the loader while capture is stopped); the save stamp may
// be read from any thread.
class CRecordCalendar {
public:
    explicit CRecordCalendar(const IClock& clock);

    // Records cleared together, in the order given; not owned.
    void attach(IDatedRecords* records);
    void detach(IDatedRecords* records);

    // Called with the time of every frame: cheap while the local day stays the same.
    void at(std::int64_t now) {
        if (now < m_dayLow || now >= m_dayHigh) [[unlikely]]
            rollOver(now);
        else if (m_onThrough && now > m_throughTime.load(std::memory_order_relaxed)) [[unlikely]]
            m_throughTime.store(now, std::memory_order_relaxed);
    }
    // The records the clock's date counts into: day 1..31, month 1..12.
    int day() const { return m_currentDay; }
    int month() const { return m_currentMonth; }

    // After a load stamped `saveTime`: clears what went stale since then (a save time without a
    // date clears everything). The next frame asks the calendar again.
    void clearStale(std::int64_t saveTime);
    // The time a save writes: a time of the newest date the records were started for.
    std::int64_t saveStamp() const;
    // Clears in `records` alone the dates after `older` up to the date of `newer`: a history
    // saved before the others catches up with them. Same rule as every other clearing.
    void catchUp(IDatedRecords& records, std::int64_t older, std::int64_t newer) const;

private:
    void rollOver(std::int64_t now);
    void advanceTo(const CivilDate& date, std::int64_t now);
    void setThrough(const CivilDate& date, std::int64_t t);
    void clearDates(const CivilDate& from, const CivilDate& to);
    std::int64_t nextDayStart(const LocalTime& lt, std::int64_t now) const;

    const IClock& m_clock;
    std::vector<IDatedRecords*> m_records;
    int m_currentDay = 1;
    int m_currentMonth = 1;
    // The newest date whose day and month records have been started. Only a date after it
    // clears records, so a clock set back never wipes a day and no day is cleared twice.
    CivilDate m_through;
    std::int64_t m_throughDays = 0;
    bool m_onThrough = false; // the clock shows m_through
    // A time on m_through (the latest one seen there): what a save stamps into the file, so
    // that the next load clears exactly the dates the records have not been started for.
    std::atomic<std::int64_t> m_throughTime{0};
    // The local day of the last frame holds for every time in [m_dayLow, m_dayHigh); outside
    // it the calendar is asked again.
    std::int64_t m_dayLow = 0;
    std::int64_t m_dayHigh = 0;
};

} // namespace tn
