#pragma once
// Status is public (the server's API returns it); internal code includes it from here.
#include "merrow/status.h"
