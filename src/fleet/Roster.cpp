#include "Roster.h"

#include "fleet/Secrets.h"
#include "link/PortMap.h"
#include "text/SystemError.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

#include <unistd.h>

namespace zrv::fleet {

namespace {

struct Fault {
    std::string what;
    toml::source_region where;
};

std::string at(const std::string& file, const toml::source_region& where)
{
    return file + ":" + std::to_string(where.begin.line) + ":" + std::to_string(where.begin.column);
}

std::string trimmed(double v)
{
    std::string s = std::to_string(v);
    while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.')) {
        const bool dot = s.back() == '.';
        s.pop_back();
        if (dot) break;
    }
    return s;
}

bool validPhone(std::string_view s)
{
    if (s.empty() || s.size() > 40) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#' || c == ',' || c == 'w' || c == 'W' || c == '-'))
            return false;
    return true;
}

// A port as a station may name it; why not, when not.
std::optional<std::string> portProblem(const std::string& port)
{
    if (port.rfind("tcp ", 0) == 0) {
        std::string why;
        if (!parseTcpEntry(port, &why)) return "порт \"" + port + "\": " + why;
        return std::nullopt;
    }
    if (port.rfind("/", 0) == 0) return std::nullopt;
    if (comNumberFromName(port)) return std::nullopt;
    return "порт \"" + port + "\" не COM1..COM32, не путь к устройству и не \"tcp УЗЕЛ ПОРТ\"";
}

class Reader {
public:
    explicit Reader(std::string file) : m_file(std::move(file)) {}

    // Integer key in [lo, hi], or the default.
    void integer(const toml::table& t, std::string_view key, int lo, int hi, int* out)
    {
        const toml::node* n = t.get(key);
        if (!n) return;
        // Only an integer node is asked for its value: toml++ casts a float
        // such as 1e300 to int64_t unchecked, which is undefined.
        const std::optional<int64_t> v = n->is_integer() ? n->value<int64_t>() : std::nullopt;
        if (!v || *v < lo || *v > hi)
            fail(std::string(key) + ": ожидалось целое число от " + std::to_string(lo) + " до " + std::to_string(hi),
                 n->source());
        else
            *out = int(*v);
    }
    void boolean(const toml::table& t, std::string_view key, bool* out)
    {
        const toml::node* n = t.get(key);
        if (!n) return;
        if (!n->is_boolean()) fail(std::string(key) + ": ожидалось true или false", n->source());
        else *out = *n->value<bool>();
    }
    void string(const toml::table& t, std::string_view key, std::string* out)
    {
        const toml::node* n = t.get(key);
        if (!n) return;
        if (!n->is_string()) fail(std::string(key) + ": ожидалась строка в кавычках", n->source());
        else *out = *n->value<std::string>();
    }
    void duration(const toml::table& t, std::string_view key, int* out)
    {
        const toml::node* n = t.get(key);
        if (!n) return;
        std::optional<int> d;
        if (n->is_integer()) {
            const int64_t v = *n->value<int64_t>();
            if (v >= 0 && v <= 86400) d = int(v);
        } else if (n->is_string()) {
            d = parseDuration(*n->value<std::string>());
        }
        if (!d) fail(std::string(key) + ": ожидалась длительность вида \"30s\", \"5m\" или \"1h\"", n->source());
        else *out = *d;
    }
    void number(const toml::table& t, std::string_view key, double lo, double hi, double* out)
    {
        const toml::node* n = t.get(key);
        if (!n) return;
        const std::optional<double> v = n->is_number() ? n->value<double>() : std::nullopt;
        if (!v || !(*v >= lo && *v <= hi))
            fail(std::string(key) + ": ожидалось число от " + trimmed(lo) + " до " + trimmed(hi), n->source());
        else
            *out = *v;
    }
    void health(const toml::node* n, HealthRules* h)
    {
        if (!n) return;
        const toml::table* t = n->as_table();
        if (!t) return fail("health: ожидалась таблица порогов", n->source());
        onlyKeys(*t, {"battery_warning", "battery_critical", "battery_fall", "on_battery", "clock_drift", "link_failures",
                      "link_calls"},
                 "health");
        number(*t, "battery_warning", 0, 60, &h->batteryWarningV);
        number(*t, "battery_critical", 0, 60, &h->batteryCriticalV);
        number(*t, "battery_fall", 0, 60, &h->batteryFallV);
        boolean(*t, "on_battery", &h->onBatteryWarns);
        number(*t, "clock_drift", 0, 86400, &h->clockDriftSPerDay);
        number(*t, "link_failures", 0, 1, &h->linkFailures);
        integer(*t, "link_calls", 1, 1000, &h->linkCalls);
        if (h->batteryCriticalV > h->batteryWarningV)
            fail("health: battery_critical выше battery_warning", n->source());
    }
    void onlyKeys(const toml::table& t, std::initializer_list<std::string_view> keys, const char* where)
    {
        for (const auto& [k, v] : t) {
            bool known = false;
            for (std::string_view x : keys) known = known || k.str() == x;
            if (!known) fail("неизвестный ключ \"" + std::string(k.str()) + "\" в " + where, k.source());
        }
    }
    // `every` and `hours`, remembered with where they stand, for the check
    // that needs the station's phone.
    void schedule(const toml::table& t, Station* s, std::optional<toml::source_region>* everyAt)
    {
        if (const toml::node* n = t.get("every")) {
            const std::optional<int> d = n->is_string() ? parseDuration(*n->value<std::string>()) : std::nullopt;
            if (!d) fail("every: ожидалась длительность вида \"15m\", \"24h\" или \"7d\"", n->source());
            else s->everyS = *d;
            *everyAt = n->source();
        }
        if (const toml::node* n = t.get("hours")) {
            const std::optional<std::string> text = n->value<std::string>();
            if (!n->is_string()) return fail("hours: ожидалась строка вида \"22:00-06:00\"", n->source());
            s->hours = *text;
            s->window = s->hours.empty() ? std::nullopt : parseHours(s->hours);
            if (!s->hours.empty() && !s->window)
                fail("hours: ожидался промежуток местного времени вида \"22:00-06:00\"", n->source());
        }
    }
    void common(const toml::table& t, Station* s)
    {
        integer(t, "address", 1, 247, &s->address);
        integer(t, "clock_tolerance", 0, 86400, &s->clockToleranceS);
        boolean(t, "set_clock", &s->setClock);
        integer(t, "retries", 0, 20, &s->retries);
        duration(t, "retry_delay", &s->retryDelayS);
    }
    // Each table of an array of tables ([[pool]], [[station]]).
    template <typename F>
    void eachTable(const toml::node* n, const std::string& key, F&& each)
    {
        if (!n) return;
        const toml::array* list = n->as_array();
        if (!list) return fail(key + ": ожидались записи [[" + key + "]]", n->source());
        for (const toml::node& item : *list) {
            if (const toml::table* t = item.as_table()) each(*t, item);
            else fail(key + ": ожидалась запись [[" + key + "]]", item.source());
        }
    }
    // Each string of a list; what is no string is refused where it stands.
    template <typename F>
    void eachString(const toml::array& a, std::string_view key, F&& each)
    {
        for (const toml::node& u : a) {
            if (!u.is_string()) fail(std::string(key) + ": ожидалась строка", u.source());
            else each(*u.value<std::string>(), u);
        }
    }
    void fail(std::string what, const toml::source_region& where)
    {
        if (m_error.empty()) m_error = at(m_file, where) + ": " + what;
    }
    const std::string& error() const { return m_error; }

private:
    std::string m_file;
    std::string m_error;
};

// C0 controls, DEL and the C1 controls (U+0080..U+009F, two bytes in UTF-8).
bool hasControlCharacter(const std::string& s)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(s[i + 1]) <= 0x9F)
            return true;
    }
    return false;
}

// toml++ says what went wrong in English; the operator is told in Russian
// what kind of fault it is and what stood there. A reason not known here
// leaves the line and column to speak for themselves.
std::string tomlReason(std::string_view d)
{
    static const std::pair<std::string_view, const char*> kKinds[] = {
        {"cannot redefine existing", "повторное определение ключа или таблицы"},
        {"end-of-file", "файл кончился посреди записи"},
        {"control character", "управляющий символ в тексте"},
        {"escape sequence", "неизвестная последовательность с \\"},
        {"surrogate", "недопустимый код символа"},
        {"U+10FFFF", "недопустимый код символа"},
        {"underscore", "подчёркивание не на месте в числе"},
        {"leading zero", "число с ведущими нулями"},
        {"between", "дата или время вне допустимого"},
        {"a comment or whitespace", "лишний текст после значения"},
        {"keys, tables, whitespace or comments", "ожидались ключ, таблица или комментарий"},
        {"value-terminator", "лишний текст после значения"},
        {"could not determine value type", "непонятное значение"},
        {"expected value", "ожидалось значение"},
        {"expected key", "ожидался ключ"},
        {"closing", "скобка не закрыта"},
        {"digit", "ожидалась цифра"},
        {"expected '='", "ожидался знак ="},
        {"expected", "ожидалось другое"},
    };
    std::string out;
    for (const auto& [english, russian] : kKinds)
        if (d.find(english) != std::string_view::npos) {
            out = std::string(": ") + russian;
            break;
        }
    // "..., saw 'x'": what stood there, in the file's own characters.
    const std::size_t saw = d.find("saw '");
    if (!out.empty() && saw != std::string_view::npos) {
        const std::string_view rest = d.substr(saw + 5);
        const std::size_t end = rest.rfind('\'');
        if (end != std::string_view::npos && end > 0 && end <= 16) out += ", а стоит «" + std::string(rest.substr(0, end)) + "»";
    }
    return out;
}

}  // namespace

std::optional<int> parseDuration(std::string_view text)
{
    if (text.empty() || text.size() > 12) return std::nullopt;
    long long n = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) n = n * 10 + (text[i] - '0');
    if (i == 0) return std::nullopt;
    const std::string_view unit = text.substr(i);
    long long scale = 0;
    if (unit.empty() || unit == "s") scale = 1;
    else if (unit == "m") scale = 60;
    else if (unit == "h") scale = 3600;
    else if (unit == "d") scale = 86400;
    else return std::nullopt;
    const long long s = n * scale;
    if (s < 1 || s > 366LL * 86400) return std::nullopt;
    return int(s);
}

std::optional<Roster> parseRoster(std::string_view text, const std::string& fileName, std::string* error)
{
    toml::table root;
    try {
        root = toml::parse(text, fileName);
    } catch (const toml::parse_error& e) {
        if (error) *error = at(fileName, e.source()) + ": ошибка синтаксиса TOML" + tomlReason(e.description());
        return std::nullopt;
    }
    Reader r(fileName);
    Roster roster;
    Station defaults;
    std::optional<toml::source_region> defaultEveryAt;
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    r.onlyKeys(root, {"defaults", "station", "health", "pool", "fleet"}, "начале списка");
    if (const toml::node* f = root.get("fleet")) {
        if (const toml::table* t = f->as_table()) {
            r.onlyKeys(*t, {"coordinate", "lease"}, "[fleet]");
            r.string(*t, "coordinate", &roster.coordinate);
            if (const toml::node* c = t->get("coordinate");
                c && !roster.coordinate.empty() && roster.coordinate.rfind("postgresql://", 0) != 0 &&
                roster.coordinate.rfind("postgres://", 0) != 0)
                r.fail("coordinate: ожидался адрес PostgreSQL вида \"postgresql://...\"", c->source());
            if (const toml::node* l = t->get("lease")) {
                const std::optional<int> d = l->is_string() ? parseDuration(*l->value<std::string>()) : std::nullopt;
                if (!d || *d < kShortestLeaseS || *d > 3600)
                    r.fail("lease: ожидалась длительность от 5s до 1h", l->source());
                else
                    roster.leaseS = *d;
            }
        } else {
            r.fail("fleet: ожидалась таблица [fleet]", f->source());
        }
    }
    r.eachTable(root.get("pool"), "pool", [&](const toml::table& t, const toml::node& n) {
        Pool p;
        r.onlyKeys(t, {"name", "host", "ports"}, "[[pool]]");
        r.string(t, "name", &p.name);
        r.string(t, "host", &p.host);
        if (p.name.empty() || hasControlCharacter(p.name)) r.fail("у пула нет имени (name)", n.source());
        if (hasControlCharacter(p.host)) r.fail("host: управляющий символ в имени", t.get("host")->source());
        const toml::node* ports = t.get("ports");
        const toml::array* a = ports ? ports->as_array() : nullptr;
        if (!a || a->empty()) r.fail("у пула нет модемов (ports = [\"COM5\", ...])", ports ? ports->source() : n.source());
        else
            r.eachString(*a, "ports", [&](const std::string& port, const toml::node& u) {
                if (const auto why = portProblem(port)) r.fail(*why, u.source());
                else p.ports.push_back(port);
            });
        roster.pools.push_back(std::move(p));
    });
    r.health(root.get("health"), &defaults.health);
    if (const toml::node* d = root.get("defaults")) {
        if (const toml::table* t = d->as_table()) {
            r.onlyKeys(*t, {"address", "clock_tolerance", "set_clock", "retries", "retry_delay", "stores",
                            "insecure_tls_no_verify", "every", "hours", "host", "pool"},
                       "[defaults]");
            r.common(*t, &defaults);
            r.string(*t, "host", &defaults.host);
            r.string(*t, "pool", &defaults.pool);
            r.schedule(*t, &defaults, &defaultEveryAt);
            r.boolean(*t, "insecure_tls_no_verify", &roster.insecureTlsNoVerify);
            if (const toml::node* s = t->get("stores")) {
                const toml::array* a = s->as_array();
                if (!a) r.fail("stores: ожидался список адресов хранилищ", s->source());
                else
                    r.eachString(*a, "stores", [&](const std::string& url, const toml::node&) { roster.stores.push_back(url); });
            }
        } else {
            r.fail("defaults: ожидалась таблица [defaults]", d->source());
        }
    }
    std::set<std::string> names;
    r.eachTable(root.get("station"), "station", [&](const toml::table& table, const toml::node& n) {
        const toml::table* t = &table;
        Station s = defaults;
        s.line = int(n.source().begin.line);
        r.onlyKeys(*t, {"name", "port", "address", "phone", "profile", "clock_tolerance", "set_clock", "retries",
                        "retry_delay", "health", "every", "hours", "host", "pool"},
                   "[[station]]");
        r.string(*t, "name", &s.name);
        r.string(*t, "port", &s.port);
        r.string(*t, "phone", &s.phone);
        r.string(*t, "profile", &s.profile);
        r.string(*t, "host", &s.host);
        r.string(*t, "pool", &s.pool);
        r.common(*t, &s);
        r.health(t->get("health"), &s.health);
        std::optional<toml::source_region> everyAt = defaultEveryAt;
        r.schedule(*t, &s, &everyAt);
        if (s.name.empty()) r.fail("у станции нет имени (name)", n.source());
        else if (hasControlCharacter(s.name))
            // A name goes into line protocol, topics and tables, where
            // a line break or a tab splits a line in two.
            r.fail("в имени станции управляющий символ (перевод строки, табуляция и т. п.)",
                   t->get("name")->source());
        else if (!names.insert(s.name).second)
            r.fail("станция \"" + s.name + "\" уже есть в списке", t->get("name")->source());
        const toml::node* poolAt = t->get("pool") ? t->get("pool") : root.at_path("defaults.pool").node();
        if (!s.pool.empty()) {
            // A pool station is reached by dialling, on whichever
            // modem of the pool is free.
            if (std::none_of(roster.pools.begin(), roster.pools.end(), [&](const Pool& p) { return p.name == s.pool; }))
                r.fail("пула \"" + s.pool + "\" нет ни у одного сборщика ([[pool]] name = \"" + s.pool + "\")",
                       poolAt ? poolAt->source() : n.source());
            else if (!s.port.empty())
                r.fail("у станции \"" + s.name + "\" и порт, и пул: что-то одно", t->get("port")->source());
            else if (s.phone.empty())
                r.fail("станция \"" + s.name + "\" в пуле модемов, но без номера (phone)", n.source());
        } else if (s.port.empty()) r.fail("у станции \"" + s.name + "\" нет порта (port)", n.source());
        else if (const auto why = portProblem(s.port)) r.fail(*why, t->get("port")->source());
        else if (const auto p = std::find_if(roster.pools.begin(), roster.pools.end(), [&](const Pool& p) {
                     return std::find(p.ports.begin(), p.ports.end(), s.port) != p.ports.end();
                 });
                 p != roster.pools.end())
            // A pool's modem is claimed for the pool's stations alone:
            // a station of its own there would never be called.
            r.fail("порт \"" + s.port + "\" — модем пула \"" + p->name + "\": укажите станции pool = \"" + p->name +
                       "\" вместо port",
                   t->get("port") ? t->get("port")->source() : n.source());
        if (!s.phone.empty() && !validPhone(s.phone))
            r.fail("phone: номер из цифр и знаков * # , w -", t->get("phone")->source());
        const int shortest = s.phone.empty() ? kShortestEveryDirectS : kShortestEveryModemS;
        if (s.everyS > 0 && s.everyS < shortest && everyAt)
            r.fail("every: короче, чем может длиться вызов станции \"" + s.name + "\" (не меньше " +
                       std::to_string(shortest) + " с" + (s.phone.empty() ? "" : " через модем") + ")",
                   *everyAt);
        if (!s.profile.empty() && std::filesystem::path(s.profile).is_relative())
            s.profile = (folder / s.profile).lexically_normal().string();
        roster.stations.push_back(std::move(s));
    });
    if (r.error().empty() && roster.stations.empty()) r.fail("в списке нет ни одной станции ([[station]])", root.source());
    if (!r.error().empty()) {
        if (error) *error = r.error();
        return std::nullopt;
    }
    return roster;
}

std::optional<std::pair<int, int>> parseHours(std::string_view text)
{
    int h1 = 0, m1 = 0, h2 = 0, m2 = 0;
    char tail = 0;
    const std::string s(text.substr(0, 32));
    if (std::sscanf(s.c_str(), "%2d:%2d-%2d:%2d%c", &h1, &m1, &h2, &m2, &tail) != 4) return std::nullopt;
    if (s.size() != 11 || h1 < 0 || h1 > 24 || h2 < 0 || h2 > 24 || m1 < 0 || m1 > 59 || m2 < 0 || m2 > 59)
        return std::nullopt;
    const int from = h1 * 60 + m1, to = h2 * 60 + m2;
    if (from >= 24 * 60 || to > 24 * 60 || from == to) return std::nullopt;
    return std::pair{from, to};
}

bool withinHours(const std::optional<std::pair<int, int>>& window, int minute)
{
    if (!window) return true;
    const auto [from, to] = *window;
    return from < to ? minute >= from && minute < to : minute >= from || minute < to;
}

std::string machineHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

std::string ownerOf(const Station& station, const std::string& machineHost)
{
    return station.host.empty() ? machineHost : station.host;
}

std::vector<std::string> poolPorts(const Roster& roster, const std::string& pool, const std::string& me)
{
    std::vector<std::string> out;
    for (const Pool& p : roster.pools)
        if (p.name == pool && hasModems(p, me))
            for (const std::string& port : p.ports)
                if (std::find(out.begin(), out.end(), port) == out.end()) out.push_back(port);
    return out;
}

bool mayCall(const Roster& roster, const Station& station, const std::string& me, const std::string& machineHost)
{
    if (!station.pool.empty()) return !poolPorts(roster, station.pool, me).empty();
    return roster.coordinate.empty() || ownerOf(station, machineHost) == me;
}

bool holdsPassword(const std::string& url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return false;
    const std::size_t hostEnd = url.find_first_of("/?#", scheme + 3);
    const std::string authority = url.substr(scheme + 3, hostEnd == std::string::npos ? std::string::npos : hostEnd - scheme - 3);
    const std::size_t at = authority.rfind('@');
    return at != std::string::npos && authority.substr(0, at).find(':') != std::string::npos;
}

std::optional<Roster> loadRoster(const std::string& path, std::string* error)
{
    std::string bytes, why;
    if (!text::readSmallFile(path, 4u << 20, &bytes, &why)) {
        if (error) *error = path + ": " + why;
        return std::nullopt;
    }
    auto roster = parseRoster(bytes, path, error);
    if (roster && (std::any_of(roster->stores.begin(), roster->stores.end(), holdsPassword) || holdsPassword(roster->coordinate)) &&
        !privateFile(path, error))
        return std::nullopt;
    return roster;
}

}  // namespace zrv::fleet
