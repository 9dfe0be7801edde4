#include "Fanout.h"

#include "collect/CallJson.h"

namespace zrv::collect {

Fanout::Fanout(std::vector<std::unique_ptr<SinkThread>> outputs, QString spoolPath, FILE* err, QObject* parent)
    : QObject(parent), m_sinks(std::move(outputs)), m_spool(std::move(spoolPath)), m_err(err)
{
}

void Fanout::loadFromStore(const std::vector<std::string>& names)
{
    m_cursors.clear();
    m_history.clear();
    m_cursorSource = nullptr;
    for (auto& sink : m_sinks) {
        if (!sink->keepsCursor()) continue;
        bool opened = false;
        decltype(m_cursors) cursors;
        decltype(m_history) history;
        sink->runAndWait([&](Sink& s) {
            SinkError error;
            if (!(opened = s.open(&error))) return;
            CursorKeeper& keeper = *s.cursors();
            for (const std::string& name : names) {
                cursors[name] = keeper.journalCursors(name);
                if (auto h = keeper.history(name)) history[name] = std::move(*h);
            }
        });
        if (!opened) continue;
        m_cursorSource = sink.get();
        m_cursors = std::move(cursors);
        m_history = std::move(history);
        return;
    }
}

void Fanout::store(const CallResult& call)
{
    InFlight& f = m_inFlight[call.callId];
    f.call = call;
    for (auto& sink : m_sinks) {
        SinkThread* t = sink.get();
        ++f.waiting;
        const bool queued = t->write(call, [this, t, id = call.callId](bool ok, const SinkError& error) {
            QMetaObject::invokeMethod(this, [this, t, id, ok, error] { written(id, t, ok, error); }, Qt::QueuedConnection);
        });
        if (queued) continue;
        --f.waiting;
        f.missed.emplace_back(t, "очередь записи заполнена: хранилище не успевает");
    }
    if (f.waiting == 0) settle(call.callId);
}

void Fanout::written(const QString& callId, SinkThread* sink, bool ok, const SinkError& error)
{
    const auto it = m_inFlight.find(callId);
    if (it == m_inFlight.end()) return;
    if (ok) it->second.wrote.push_back(sink);
    else it->second.missed.emplace_back(sink, error.why);
    if (--it->second.waiting == 0) settle(callId);
}

void Fanout::settle(const QString& callId)
{
    const auto node = m_inFlight.extract(callId);
    const InFlight& f = node.mapped();
    const CallResult& call = f.call;
    const bool everywhere = f.missed.empty();
    if (!f.missed.empty()) {
        for (const auto& [sink, why] : f.missed) m_spool.add(sink->name(), call);
        std::string spoolWhy;
        const bool spooled = m_spool.save(&spoolWhy);
        if (!spooled) m_spool.forget(call.callId);  // what is not on disk is not spooled
        for (const auto& [sink, why] : f.missed) {
            if (spooled)
                std::fprintf(m_err, "%s: недоступно (%s); вызов %s сохранён до следующего запуска в %s\n",
                             sink->name().toUtf8().constData(), why.c_str(), printable(QString::fromStdString(call.station)).toUtf8().constData(),
                             m_spool.path().toUtf8().constData());
            else
                std::fprintf(m_err,
                             "%s: недоступно (%s), и отложить вызов %s в %s не удалось (%s): вызов не сохранён; "
                             "курсор журнала не сдвинут, записи будут прочитаны снова\n",
                             sink->name().toUtf8().constData(), why.c_str(), printable(QString::fromStdString(call.station)).toUtf8().constData(),
                             m_spool.path().toUtf8().constData(), spoolWhy.c_str());
        }
        if (!spooled) {
            // The stores that have it keep their cursor where it was, so the
            // next call reads these records again for the one that has not.
            ++m_unsaved;
            if (settled) settled(call, everywhere);
            return;
        }
    }
    for (SinkThread* sink : f.wrote) {
        if (!sink->keepsCursor()) continue;
        if (sink == m_cursorSource && call.cursor && call.deviceNumber) m_cursors[call.station][call.deviceNumber] = *call.cursor;
        FILE* err = m_err;
        sink->post([call, err](Sink& s) {
            SinkError error;
            if (!s.cursors()->saveCursor(call, &error))
                std::fprintf(err, "%s: курсор журнала не записан (%s); записи будут прочитаны снова\n",
                             s.name().toUtf8().constData(), error.why.c_str());
        });
    }
    if (settled) settled(call, everywhere);
}

void Fanout::replaySpool()
{
    std::string warning;
    if (!m_spool.load(&warning) || !warning.empty()) std::fprintf(m_err, "%s\n", warning.c_str());
    if (m_spool.size() == 0) return;
    std::size_t replayed = 0;
    for (auto& sink : m_sinks) {
        const std::vector<CallResult> waiting = m_spool.waitingFor(sink->name());
        if (waiting.empty()) continue;
        std::vector<QString> done;
        sink->runAndWait([&](Sink& s) {
            SinkError error;
            if (!s.open(&error)) return;
            for (const CallResult& c : waiting) {
                if (!s.write(c, &error)) break;
                SinkError cursorError;
                if (CursorKeeper* keeper = s.cursors()) keeper->saveCursor(c, &cursorError);
                done.push_back(c.callId);
            }
        });
        for (const QString& id : done) m_spool.written(sink->name(), id);
        replayed += done.size();
    }
    std::string why;
    if (!m_spool.save(&why)) {
        // Rows are written once however often they are replayed: what the
        // file still holds is tried again, and the count says so.
        std::fprintf(m_err, "%s: %s\n", m_spool.path().toUtf8().constData(), why.c_str());
        std::string ignored;
        m_spool.load(&ignored);
    }
    if (replayed) std::fprintf(m_err, "из отложенных записано вызовов: %zu\n", replayed);
}

}  // namespace zrv::collect
