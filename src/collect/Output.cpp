#include "Output.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace zrv::collect {

std::vector<OutputKind> programOutputs();  // Outputs.cpp

namespace {

std::vector<OutputKind>& kinds()
{
    static std::vector<OutputKind> list = programOutputs();
    return list;
}

const OutputKind* kindOf(const QString& scheme, bool url)
{
    const auto& list = kinds();
    for (auto k = list.rbegin(); k != list.rend(); ++k)
        if (k->url == url && std::find(k->schemes.begin(), k->schemes.end(), scheme) != k->schemes.end()) return &*k;
    return nullptr;
}

// The kind a parsed URL is of.
const OutputKind* kindOf(const StoreUrl& url)
{
    const OutputKind* kind = kindOf(url.scheme, true);
    return kind ? kind : kindOf(url.scheme, false);
}

}  // namespace

const std::vector<OutputKind>& outputKinds() { return kinds(); }

void addOutputKind(OutputKind kind) { kinds().push_back(std::move(kind)); }

QString StoreUrl::display() const
{
    if (password.isEmpty()) return text;
    QUrl u(text);
    u.setPassword(QString());
    return u.toString(QUrl::RemovePassword);
}

std::optional<StoreUrl> parseStoreUrl(const QString& text, std::string* why, UrlOrigin origin)
{
    const auto fail = [why](const std::string& w) -> std::optional<StoreUrl> {
        if (why) *why = w;
        return std::nullopt;
    };
    StoreUrl u;
    u.text = text;
    // A kind that takes a bare path after its scheme ("sqlite:PATH").
    const int colon = int(text.indexOf(QLatin1Char(':')));
    if (colon > 0) {
        if (const OutputKind* kind = kindOf(text.left(colon), false)) {
            u.scheme = text.left(colon);
            if (!kind->parse(u, nullptr, why)) return std::nullopt;
            return u;
        }
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) return fail("неверный адрес хранилища");
    u.user = url.userName();
    u.password = url.password();
    u.scheme = url.scheme();
    // Never repeat the text of a URL that holds a password.
    const std::string shown = u.display().toStdString();
    if (!u.password.isEmpty() && origin == UrlOrigin::CommandLine)
        return fail(shown + ": пароль в командной строке виден всем пользователям (ps). Для PostgreSQL запишите его в "
                            "~/.pgpass или файл PGPASSFILE (chmod 600), для MQTT укажите password_file=ФАЙЛ (chmod 600), "
                            "или держите адрес с паролем в списке станций (chmod 600)");
    if (const OutputKind* kind = kindOf(u.scheme, true)) {
        if (!kind->parse(u, &url, why)) return std::nullopt;
        return u;
    }
    QStringList listed;
    for (const OutputKind& k : kinds())
        for (const QString& l : k.listed) listed << l;
    const QString last = listed.isEmpty() ? QString() : listed.takeLast();
    return fail("хранилище \"" + shown + "\" не " + listed.join(QStringLiteral(", ")).toStdString() + " и не " +
                last.toStdString());
}

std::unique_ptr<Sink> makeSink(const StoreUrl& url)
{
    const OutputKind* kind = kindOf(url);
    return kind ? kind->make(url) : nullptr;
}

bool checkedAtStart(const StoreUrl& url)
{
    const OutputKind* kind = kindOf(url);
    return kind && kind->checkedAtStart;
}

}  // namespace zrv::collect
