// A spool line as the disk may give it back: either no call, or a call that
// holds only what a call can hold; its line protocol then never overflows
// (UBSan watches the arithmetic), holds no NaN and no raw control character,
// and the call written again reads back the same.

#include "FuzzCheck.h"
#include "collect/CallJson.h"

#include <QJsonDocument>

#include <cmath>

namespace {

// Each field value of line protocol that is not a string is a number that
// reads as one: no NaN or infinity written out. Names and strings may hold
// any word, "nan" included (a station "Nanaimo", a report's text).
bool numbersAreNumbers(const QString& lines)
{
    for (const QString& line : lines.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        qsizetype i = 0;
        // The measurement and its tags end at the first space not escaped.
        for (; i < line.size() && line[i] != QLatin1Char(' '); ++i)
            if (line[i] == QLatin1Char('\\')) ++i;
        ++i;
        while (i < line.size()) {
            for (; i < line.size() && line[i] != QLatin1Char('='); ++i)
                if (line[i] == QLatin1Char('\\')) ++i;
            ++i;
            if (i < line.size() && line[i] == QLatin1Char('"')) {
                for (++i; i < line.size() && line[i] != QLatin1Char('"'); ++i)
                    if (line[i] == QLatin1Char('\\')) ++i;
                ++i;
            } else {
                const qsizetype from = i;
                while (i < line.size() && line[i] != QLatin1Char(',') && line[i] != QLatin1Char(' ')) ++i;
                QString number = line.mid(from, i - from);
                if (number.endsWith(QLatin1Char('i'))) number.chop(1);
                bool ok = false;
                const double v = number.toDouble(&ok);
                if (!ok || !std::isfinite(v)) return false;
            }
            if (i >= line.size() || line[i] == QLatin1Char(' ')) break;  // the time stamp follows
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const QJsonObject line = doc.object();
    const auto call = zrv::collect::callFromJson(line["call"].isObject() ? line["call"].toObject() : line);
    if (!call) return 0;
    FUZZ_CHECK(call->started.isValid() && call->started.date().year() >= 2000);
    FUZZ_CHECK(call->deviceNumber <= 8 * 255);
    for (const auto& r : call->records) FUZZ_CHECK(r.stamp.year == 0 || (r.stamp.year >= 2000 && r.stamp.year <= 2255) || !r.stamp.dateValid());
    const QString influx = zrv::collect::callToInflux(*call);
    FUZZ_CHECK(numbersAreNumbers(influx));
    for (const QChar c : influx) FUZZ_CHECK(c == QLatin1Char('\n') || c.unicode() >= 0x20);
    const auto again = zrv::collect::callFromJson(zrv::collect::callToJson(*call));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(zrv::collect::callToInflux(*again) == influx);
    return 0;
}
