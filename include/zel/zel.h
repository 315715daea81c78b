#pragma once
// Every public header of libtamsel2.

#include "zel/zel_export.h"
#include "zel/time_converter.h"
