// The loopback server lives in tools/loopback/. This header keeps the old
// include path and names for the player's test harness until it includes
// tools/loopback/LoopbackServer.h itself; new code includes that header.
#pragma once

#include "tools/loopback/LoopbackServer.h"

namespace orvento::testsupport {

using loopback::LoopbackServer;
using loopback::Script;

}  // namespace orvento::testsupport
