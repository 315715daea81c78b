// Loading libtamsel2 sets the transport up once for the process; unloading ends it.
// Built into the shared library only: tests that link the core's objects start the
// transport on demand instead.

#include "merrow/connection_manager.h"

namespace {

__attribute__((constructor)) void pelloraLoad()
{
    using merrow::ConnectionManagerEx;
    ConnectionManagerEx::init(1);
    ConnectionManagerEx::setNoReconnectAttempts(10);
    ConnectionManagerEx::setNoReloginAttempts(15);
    ConnectionManagerEx::setAsync(1);
    ConnectionManagerEx::setTcpTimeout(180000);
}

__attribute__((destructor)) void pelloraUnload()
{
    merrow::ConnectionManagerEx::finalize(1);
}

} // namespace
