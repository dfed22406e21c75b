// One run of a pesolink command: the driver's module start (its own
// Driver.ini and Log.txt), one driver object, OpenConnection with a progress
// line during the serial line probe, the command's calls, CloseConnection,
// and the output in plain text or JSON. Returns the exit status.
#pragma once

#include "cli/Usage.h"

namespace pesolink::cli {

int RunSession(const Invocation& invocation);

}  // namespace pesolink::cli
