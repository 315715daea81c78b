#pragma once
// Everything a client of the transport needs, in one include.

#include "merrow/connection_manager.h"
#include "merrow/fix_defs.h"
#include "merrow/generic_exception.h"
#include "merrow/listeners.h"
#include "merrow/message.h"
#include "merrow/threading.h"
#include "merrow/trading_session_desc.h"
#include "merrow/user_session.h"
#include "merrow/utc_timestamp.h"
