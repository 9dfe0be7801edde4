// The kinds of output the program knows, each defined in its own file.
#include "collect/Output.h"

namespace zrv::collect {

OutputKind sqliteOutput();    // Store.cpp
OutputKind postgresOutput();  // Store.cpp
OutputKind mqttOutput();      // MqttSink.cpp

std::vector<OutputKind> programOutputs() { return {sqliteOutput(), postgresOutput(), mqttOutput()}; }

}  // namespace zrv::collect
