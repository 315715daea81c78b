#pragma once
// The session's time converter: UTC, the machine's local zone (/etc/localtime),
// US Eastern time and the server's zone, each kept as a Windows-style record with
// one recurring daylight rule read from the system's zone files.
//
// Ownership: create with `new TimeConverter()` (one reference for the creator) and
// hold it in a RefPtr; the last release destroys it.
// [Threading] convert may run on any number of threads while another thread
// replaces the server zone: each conversion copies a whole description under the
// lock, so it sees either the old or the new one, never a mix.

#include <ctime>

#include "core/base/mutex.h"
#include "vorntool/add_ref.h"
#include "vorntool/date.h"
#include "zel/time_converter.h"

namespace zel {

class TimeConverter : public TThreadSafeAddRefImpl<IZelTimeConverter> {
public:
    // Local from /etc/localtime, EST from it or America/New_York, server = UTC.
    TimeConverter();
    // Local read from the named zone instead (null: /etc/localtime); for tests and
    // tools that must not depend on the machine's zone.
    explicit TimeConverter(const char* localZoneName);

    // Zones outside 0-3 are taken as UTC. Milliseconds are kept.
    double convert(double date, TimeZone from, TimeZone to) override;

    // Null or empty: the server runs on UTC. Otherwise the named zone; a name that
    // cannot be read leaves only the machine's current offset.
    void setServerTimeZone(const char* name);
    // EST is a copy of local when local is US Eastern, else America/New_York.
    void setESTTimeZone();

    // Reads the named zone (null: /etc/localtime) as of now. On any failure *info
    // holds only the machine's current offset as Bias.
    static void getTimeZoneInformation(_TIME_ZONE_INFORMATION* info, const char* name);
    static void fillTransitionDate(_SYSTEMTIME* rule, const tm* t, const tm* next);
    static bool isLeapYear(int year);

    // A copy of the description used for a zone (all zeros for UTC).
    _TIME_ZONE_INFORMATION getDescription(TimeZone zone) const;

protected:
    ~TimeConverter() override = default;

private:
    mutable Mutex m_mutex;
    _TIME_ZONE_INFORMATION m_est ZEL_GUARDED_BY(m_mutex);
    _TIME_ZONE_INFORMATION m_local ZEL_GUARDED_BY(m_mutex);
    _TIME_ZONE_INFORMATION m_server ZEL_GUARDED_BY(m_mutex);
};

} // namespace zel
