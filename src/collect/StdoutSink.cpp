#include "StdoutSink.h"

#include "collect/CallJson.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace zrv::collect {

bool StdoutSink::write(const CallResult& call, SinkError*)
{
    if (m_format == Format::Jsonl) {
        std::fprintf(m_out, "%s\n", QJsonDocument(callToJson(call)).toJson(QJsonDocument::Compact).constData());
    } else if (m_format == Format::Influx) {
        std::fputs(callToInflux(call).toUtf8().constData(), m_out);
    }
    std::fflush(m_out);
    return true;
}

}  // namespace zrv::collect
