// The option file "./tgoption.ini" (section "Option") in the install
// folder, the current directory during an attempt. Worker thread; blocks on
// file reads.
#pragma once
#include "session_options.h"

// Every default when the file is missing; else each key by the 0 rule.
tollgrove::SessionOptions ReadOptionFile();
