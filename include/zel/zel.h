#pragma once
// Every public header of libtamsel2.

#include "zel/zel_export.h"
#include "zel/request.h"
#include "zel/request_factory.h"
#include "zel/time_converter.h"
#include "zel/timeframe.h"
#include "zel/value_map.h"
