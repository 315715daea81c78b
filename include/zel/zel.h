#pragma once
// Every public header of libtamsel2.

#include "zel/zel_export.h"
#include "zel/request.h"
#include "zel/response.h"
#include "zel/response_listener.h"
#include "zel/session.h"
#include "zel/session_descriptor.h"
#include "zel/command_response_reader.h"
#include "zel/session_status.h"
#include "zel/system_properties_reader.h"
#include "zel/request_factory.h"
#include "zel/rows.h"
#include "zel/table_column.h"
#include "zel/time_converter.h"
#include "zel/table_types.h"
#include "zel/timeframe.h"
#include "zel/value_map.h"
