#pragma once
// Each call on standard output as it is stored: one JSON line, or InfluxDB
// line protocol. Named by --format, not by a URL; it has no later, so
// nothing is spooled for it.

#include "collect/Output.h"

#include <cstdio>

namespace zrv::collect {

enum class Format { Summary, Jsonl, Influx };

class StdoutSink : public Sink {
public:
    StdoutSink(Format format, FILE* out) : m_format(format), m_out(out) {}
    bool open(SinkError*) override { return true; }
    bool write(const CallResult& call, SinkError* error) override;
    bool spools() const override { return false; }
    QString name() const override { return QStringLiteral("stdout"); }

private:
    Format m_format;
    FILE* m_out;
};

}  // namespace zrv::collect
