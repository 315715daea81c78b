#pragma once
// The built-in demo world that runs when no configuration is given: twelve currency
// pairs and two CFDs, users demo/demo (two USD accounts), demo22/demo22, demo24/demo24,
// and the connections "Demo", "DemoMulti", "DemoAsync", "DemoRTMP", "DemoPrice".

#include "world.h"

namespace pellora::dealer {

World demoWorld();

} // namespace pellora::dealer
