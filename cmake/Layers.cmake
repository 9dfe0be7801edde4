# The layers of src/, each looking only down. For each folder: the folders
# its files may include besides its own. A subsystem's windows (X/ui) may
# include their own subsystem's logic X/ too. cmake/CheckLayers.cmake fails
# the tests on any include that runs another way.
#
#   text <- link <- subsystem logic <- session <- fleet <- collect
#                                                 fleet <- web
#                                      session <- windowbase <- windows <- shell

set(ZRV_LOGIC monitor setpoints clock journal modem diagnostics)

set(ZRV_LAYER_text "")
set(ZRV_LAYER_link text)
# Subsystem logic: plain C++ on the link, each subsystem on its own.
foreach(logic IN LISTS ZRV_LOGIC)
  set(ZRV_LAYER_${logic} link text)
endforeach()
set(ZRV_LAYER_session ${ZRV_LOGIC} link text)
set(ZRV_LAYER_fleet ${ZRV_LOGIC} link text)
set(ZRV_LAYER_collect fleet session ${ZRV_LOGIC} link text)
# The web console reads the fleet, and knows nothing of a session or a port.
set(ZRV_LAYER_web fleet ${ZRV_LOGIC} link text)
set(ZRV_LAYER_windowbase text)
# Every subsystem's windows (X/ui): the session and the window base; the
# stations window reads the fleet.
set(ZRV_LAYER_ui windowbase session ${ZRV_LOGIC} link text)
set(ZRV_LAYER_stations_ui fleet ${ZRV_LAYER_ui})
# The roof wires every window to the session.
set(ZRV_LAYER_shell ui windowbase session fleet ${ZRV_LOGIC} link text)

# Inside collect/, its parts, each looking only at those named after it (and
# at its own): what a call brings back at the bottom; the outputs on it; the
# fan-out of a call to the outputs (a thread and queue each, the spool) on
# those; the call itself beside them; the reports; the ports, each calling
# one station at a time; and on top the drivers (a round, serving) and the
# collector that holds them.
set(ZRV_COLLECT_PARTS record outputs fanout call report ports driver)
set(ZRV_COLLECT_record FleetTypes CallJson Metrics ServiceMetrics StatementDeadline)
set(ZRV_COLLECT_outputs Output Outputs Store MqttSink StdoutSink FleetTable)
set(ZRV_COLLECT_fanout SinkThread Spool Fanout)
set(ZRV_COLLECT_call CallScript StationCall)
set(ZRV_COLLECT_report FleetReport StationGauges MetricsServer Printout)
set(ZRV_COLLECT_ports Ports)
set(ZRV_COLLECT_driver CollectorParts RoundDriver ServeDriver Collector main)
set(ZRV_COLLECT_SEES_record "")
set(ZRV_COLLECT_SEES_outputs record)
set(ZRV_COLLECT_SEES_fanout outputs record)
set(ZRV_COLLECT_SEES_call record)
set(ZRV_COLLECT_SEES_report record)
set(ZRV_COLLECT_SEES_ports call report record)
set(ZRV_COLLECT_SEES_driver ports fanout outputs call report record)
