#pragma once
// The collector is built on the fleet's own types: the roster, a call's
// result, its outcome, its findings. Named one by one, so that a file that
// includes this one sees these and no other name of the fleet.

#include "fleet/CallResult.h"
#include "fleet/Health.h"
#include "fleet/Outcome.h"
#include "fleet/RecordStamp.h"
#include "fleet/Roster.h"

namespace zrv::collect {
using zrv::fleet::CallResult;
using zrv::fleet::Finding;
using zrv::fleet::Health;
using zrv::fleet::Outcome;
using zrv::fleet::PastCall;
using zrv::fleet::Pool;
using zrv::fleet::Roster;
using zrv::fleet::Station;
using zrv::fleet::StationHistory;
using zrv::fleet::findingValuesFromJson;
using zrv::fleet::findingValuesToJson;
using zrv::fleet::hasModems;
using zrv::fleet::judgeCall;
using zrv::fleet::kCritical;
using zrv::fleet::kFindingValues;
using zrv::fleet::kWarning;
using zrv::fleet::kindText;
using zrv::fleet::lineTaken;
using zrv::fleet::loadRoster;
using zrv::fleet::machineHostName;
using zrv::fleet::mayCall;
using zrv::fleet::outcomeName;
using zrv::fleet::outcomeNamed;
using zrv::fleet::outcomeText;
using zrv::fleet::outcomeWords;
using zrv::fleet::ownerOf;
using zrv::fleet::parseDuration;
using zrv::fleet::parseRoster;
using zrv::fleet::plausibleOffset;
using zrv::fleet::plausibleVolts;
using zrv::fleet::poolPorts;
using zrv::fleet::withinHours;
using zrv::fleet::stampIso;
using zrv::fleet::stampKey;
}  // namespace zrv::collect
