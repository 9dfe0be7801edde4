#pragma once
// The collector is built on the fleet's own types: the roster, a call's
// result, its outcome.

#include "fleet/CallResult.h"
#include "fleet/Health.h"
#include "fleet/Outcome.h"
#include "fleet/Roster.h"

namespace zrv::collect {
using namespace zrv::fleet;
}  // namespace zrv::collect
