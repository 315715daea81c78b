// pellora rules, for an SDK whose public headers have no login rules yet.

#include "commands.h"

namespace pellora::cli {

bool runRules(Context& cx, const std::string&, const std::string&) {
    return fail(cx, kExitUsage, "rules: the login rules are not available in this build");
}

}  // namespace pellora::cli
