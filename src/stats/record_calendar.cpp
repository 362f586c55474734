#include "stats/record_calendar.h"

#include "platform/clock.h"

#include <algorithm>

namespace tn {

namespace {

// A clock set back by less than this keeps the records' newest date: the days up to it were
// started already and are not cleared again when the clock passes them once more. Set back
// further, the clock is taken as the new truth and the cycle starts again from the date it
// shows; otherwise no record would be cleared for as long as the clock stays behind.
constexpr std::int64_t kBackwardKeepDays = 31;

CivilDate dateOf(const LocalTime& lt) {
    return CivilDate{lt.year, lt.month, lt.day};
}

bool validDate(const CivilDate& d) {
    return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31;
}

} // namespace

CRecordCalendar::CRecordCalendar(const IClock& clock) : m_clock(clock) {
    const std::int64_t now = m_clock.now();
    if (const auto lt = m_clock.toLocal(now); lt && validDate(dateOf(*lt))) {
        m_currentDay = lt->day;
        m_currentMonth = lt->month;
        setThrough(dateOf(*lt), now);
    }
    // The first frame asks the calendar.
    m_dayLow = m_dayHigh = 0;
}

void CRecordCalendar::attach(IDatedRecords* records) {
    if (records && std::find(m_records.begin(), m_records.end(), records) == m_records.end())
        m_records.push_back(records);
}

void CRecordCalendar::detach(IDatedRecords* records) {
    m_records.erase(std::remove(m_records.begin(), m_records.end(), records), m_records.end());
}

void CRecordCalendar::rollOver(std::int64_t now) {
    const auto lt = m_clock.toLocal(now);
    if (!lt || !validDate(dateOf(*lt))) {
        // No calendar: the records stay as they are; ask again with the next second.
        m_onThrough = false;
        m_dayLow = now;
        m_dayHigh = now + 1;
        return;
    }
    advanceTo(dateOf(*lt), now);
    m_onThrough = daysFromCivil(dateOf(*lt)) == m_throughDays;
    // A clock set back below `now` asks again; so does any time from the next local midnight.
    m_dayLow = now;
    m_dayHigh = nextDayStart(*lt, now);
    for (IDatedRecords* r : m_records)
        m_dayHigh = std::min(m_dayHigh, r->enterSlot(now));
}

void CRecordCalendar::advanceTo(const CivilDate& date, std::int64_t now) {
    const std::int64_t days = daysFromCivil(date);
    if (days > m_throughDays) {
        clearDates(m_through, date);
        setThrough(date, now);
    } else if (days == m_throughDays) {
        if (now > m_throughTime.load(std::memory_order_relaxed))
            m_throughTime.store(now, std::memory_order_relaxed);
    } else if (m_throughDays - days >= kBackwardKeepDays) {
        setThrough(date, now);
    }
    m_currentDay = date.day;
    m_currentMonth = date.month;
}

void CRecordCalendar::setThrough(const CivilDate& date, std::int64_t t) {
    m_through = date;
    m_throughDays = daysFromCivil(date);
    m_throughTime.store(t, std::memory_order_relaxed);
}

void CRecordCalendar::clearDates(const CivilDate& from, const CivilDate& to) {
    clearDatesAfter(
        from, to,
        [this](int i) {
            for (IDatedRecords* r : m_records)
                r->clearDayRecord(i);
        },
        [this](int i) {
            for (IDatedRecords* r : m_records)
                r->clearMonthRecord(i);
        });
}

void CRecordCalendar::catchUp(IDatedRecords& records, std::int64_t older,
                              std::int64_t newer) const {
    const auto lo = m_clock.toLocal(older);
    const auto ln = m_clock.toLocal(newer);
    if (!ln || !validDate(dateOf(*ln)))
        return;
    if (!lo || !validDate(dateOf(*lo))) {
        records.clearAllRecords();
        return;
    }
    clearDatesAfter(
        dateOf(*lo), dateOf(*ln), [&records](int i) { records.clearDayRecord(i); },
        [&records](int i) { records.clearMonthRecord(i); });
}

std::int64_t CRecordCalendar::nextDayStart(const LocalTime& lt, std::int64_t now) const {
    const auto dayAt = [this](std::int64_t t) {
        const auto l = m_clock.toLocal(t);
        return l ? l->day : -1;
    };
    LocalTime next{lt.year, lt.month, lt.day + 1, 0, 0, 0, -1};
    const auto guess = m_clock.fromLocal(next);
    if (guess && *guess > now && dayAt(*guess) != lt.day && dayAt(*guess - 1) == lt.day)
        return *guess;
    // Where midnight does not exist (a daylight-saving jump at 00:00) the calendar may place
    // it wrongly: find the first second of another day instead.
    std::int64_t low = now;
    std::int64_t high = now + 3 * 86400;
    if (dayAt(high) == lt.day)
        return now + 1;
    while (high - low > 1) {
        const std::int64_t mid = low + (high - low) / 2;
        if (dayAt(mid) == lt.day)
            low = mid;
        else
            high = mid;
    }
    return high;
}

void CRecordCalendar::clearStale(std::int64_t saveTime) {
    m_dayLow = m_dayHigh = 0;
    const std::int64_t now = m_clock.now();
    const auto ln = m_clock.toLocal(now);
    if (!ln || !validDate(dateOf(*ln)))
        return;
    const auto ls = m_clock.toLocal(saveTime);
    if (ls && validDate(dateOf(*ls))) {
        setThrough(dateOf(*ls), saveTime);
    } else {
        // A save time without a date: nothing of the file can be trusted to be current.
        for (IDatedRecords* r : m_records)
            r->clearAllRecords();
        setThrough(dateOf(*ln), now);
    }
    // The same rule as for frames: the dates since the save are cleared, a clock set back
    // clears nothing.
    advanceTo(dateOf(*ln), now);
}

std::int64_t CRecordCalendar::saveStamp() const {
    // A save on a day without any frame yet (an idle line after midnight, a save on the way
    // into sleep and again on resume) must leave that day to be cleared by the next load.
    const std::int64_t now = m_clock.now();
    std::int64_t stamp = m_throughTime.load(std::memory_order_relaxed);
    const auto ls = m_clock.toLocal(stamp);
    const auto ln = m_clock.toLocal(now);
    if (ls && ln && now > stamp && ls->year == ln->year && ls->month == ln->month &&
        ls->day == ln->day)
        stamp = now;
    return stamp;
}

} // namespace tn
