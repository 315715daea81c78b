#pragma once
// Time conversion between UTC, the machine's local time, US Eastern time and the
// dealing server's zone. The session hands one out (getTimeConverter).

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

class ZEL_API IZelTimeConverter : public IAddRef {
public:
    enum TimeZone { UTC = 0, Local = 1, EST = 2, Server = 3 };

    // Converts a date serial from one zone to another; the same zone returns the
    // date unchanged. Never fails. Safe to call from any thread, also while the
    // session replaces the server zone after a login. Zones outside 0-3 count as UTC.
    virtual double convert(double date, TimeZone from, TimeZone to) = 0;

protected:
    ~IZelTimeConverter() override = default;
};
