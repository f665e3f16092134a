// The commands of sqv64ctl, each talking to the server over one or more
// connections and returning the process's exit status: 0 for success, 1
// when the operation failed, 2 for a usage error. Messages for people go
// to standard error, results to standard output.
#pragma once

#include "ctl_options.h"
#include "platform/platform.h"

namespace sqv64::ctl {

int RunCtlCommand(const CtlOptions& options, platform::Platform& platform);

}  // namespace sqv64::ctl
