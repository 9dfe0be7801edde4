#include "Spool.h"

#include "collect/CallJson.h"
#include "text/ReplaceFile.h"
#include "text/SystemError.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zrv::collect {

bool Spool::load(std::string* warning)
{
    m_entries.clear();
    std::string bytes, why;
    struct stat st {};
    if (::stat(m_path.toLocal8Bit().constData(), &st) != 0 && errno == ENOENT) return true;
    if (!text::readSmallFile(m_path.toStdString(), std::size_t(1) << 30, &bytes, &why)) {
        if (warning) *warning = m_path.toStdString() + ": " + why;
        return false;
    }
    int bad = 0;
    for (const QByteArray& line : QByteArray::fromStdString(bytes).split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        const QJsonObject o = doc.object();
        Entry e{o["store"].toString(), {}, line, std::nullopt};
        if (o["call"].isObject()) e.call = callFromJson(o["call"].toObject());
        if (e.call) e.callId = e.call->callId;
        else ++bad;
        m_entries.push_back(std::move(e));
    }
    if (bad && warning)
        *warning = m_path.toStdString() + ": " + std::to_string(bad) + " строк(и) не прочитаны, они оставлены в файле";
    return true;
}

void Spool::add(const QString& store, const CallResult& call)
{
    QJsonObject o;
    o["store"] = store;
    o["call"] = callToJson(call);
    m_entries.push_back({store, call.callId, QJsonDocument(o).toJson(QJsonDocument::Compact), call});
}

std::vector<CallResult> Spool::waitingFor(const QString& store) const
{
    std::vector<CallResult> out;
    for (const Entry& e : m_entries)
        if (e.call && e.store == store) out.push_back(*e.call);
    return out;
}

void Spool::written(const QString& store, const QString& callId)
{
    std::erase_if(m_entries, [&](const Entry& e) { return e.call && e.store == store && e.callId == callId; });
}

void Spool::forget(const QString& callId)
{
    std::erase_if(m_entries, [&](const Entry& e) { return e.call && e.callId == callId; });
}

bool Spool::save(std::string* why) const
{
    if (m_entries.empty()) {
        if (::unlink(m_path.toLocal8Bit().constData()) != 0 && errno != ENOENT) {
            if (why) *why = text::systemErrorText(errno);
            return false;
        }
        return true;
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    std::string bytes;
    for (const Entry& e : m_entries) bytes += e.line.toStdString() + "\n";
    return text::replaceFile(m_path.toStdString(), bytes, why);
}

}  // namespace zrv::collect
