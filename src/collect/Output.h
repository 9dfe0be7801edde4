#pragma once
// Where calls end up. An output is opened, written and closed, on a thread
// of its own (see SinkThread.h), so every function here may take its time.
// Keeping journal cursors and each station's history is a capability some
// outputs have (a database) and others do not (a broker, standard output):
// the collector asks an output for it, never for its kind.
//
// Each kind of output is one entry in the list of Outputs.cpp: the URL
// schemes it answers to, its parser with options of its own, and its
// factory. A new kind is a file of its own and a line in that list.

#include "collect/FleetTypes.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QUrl;

namespace zrv::collect {

// What a kind reads from its URL beyond the address every kind shares.
struct OutputOptions {
    virtual ~OutputOptions() = default;
};

// An output as the command line or the roster names it.
struct StoreUrl {
    QString scheme;  // as the kind knows it ("sqlite", "postgresql", "mqtts", ...)
    QString text;    // as given (may hold a password: never show it)
    QString user, password;
    // The roster allows TLS without checking the peer's certificate
    // (insecure_tls_no_verify): for a kind that speaks TLS.
    bool insecureTlsAllowed = false;
    std::shared_ptr<const OutputOptions> options;

    template <class T>
    const T* as() const
    {
        return dynamic_cast<const T*>(options.get());
    }
    // The URL without its password, for messages, the summary and the spool.
    QString display() const;
};

enum class UrlOrigin { CommandLine, Roster };

// Why an output did not take what it was given.
struct SinkError {
    enum Kind {
        Unreachable,  // not now: its calls are spooled and written later
        SchemaNewer,  // a newer collector's store: left alone for good
    } kind = Unreachable;
    std::string why;  // in words, for the operator
};

// Where the reading of a station's journal stands, and what is known of
// the station for judging its next call: kept by a database alone.
class CursorKeeper {
public:
    virtual ~CursorKeeper() = default;
    // Moves the journal cursor to where the call left it, once the call is
    // safe in every output (written, or on disk in the spool): so a store
    // that missed it never has its records passed over. A call older than
    // the one that moved the cursor last leaves it.
    virtual bool saveCursor(const CallResult& call, SinkError* error) = 0;
    // The journal cursors of each of a station's devices, by device number.
    // Device numbers are sums of valve weights and need not be unique across
    // a fleet, so the station is part of the cursor.
    virtual std::map<unsigned, journal::JournalCursor> journalCursors(const std::string& station) = 0;
    // What the store remembers of a station (see Health.h), if anything.
    virtual std::optional<StationHistory> history(const std::string& station) = 0;
};

class Sink {
public:
    virtual ~Sink() = default;
    // False and why when the output cannot be reached now.
    virtual bool open(SinkError* error) = 0;
    // Writes the call's rows whole or not at all; the journal cursor stays.
    virtual bool write(const CallResult& call, SinkError* error) = 0;
    // Lets go of the connection (on the thread that opened it).
    virtual void close() {}
    virtual QString name() const = 0;
    // Whether a call it could not take is spooled for it (standard output
    // has no later).
    virtual bool spools() const { return true; }
    // Its cursors and history, for an output that keeps them.
    virtual CursorKeeper* cursors() { return nullptr; }
};

// One kind of output.
struct OutputKind {
    // The schemes it answers to, and how the refusal of an unknown one lists
    // it ("sqlite:", "mqtt://", ...).
    std::vector<QString> schemes, listed;
    // Whether what follows the scheme is a URL (with a host, a user, a
    // query), rather than a bare path.
    bool url = true;
    // Reads the kind's own part into url.options: false and why when it is
    // not right. `parsed` is the URL, when the kind takes one.
    std::function<bool(StoreUrl& url, const QUrl* parsed, std::string* why)> parse;
    std::function<std::unique_ptr<Sink>(const StoreUrl& url)> make;
    // Opened once before anything is called, so that a store a newer
    // collector wrote is refused at the start (a broker has no schema).
    bool checkedAtStart = false;
};

// The kinds the program knows (Outputs.cpp), and any a caller adds (a test's
// own output): the later entry wins a scheme both name.
const std::vector<OutputKind>& outputKinds();
void addOutputKind(OutputKind kind);

// "sqlite:PATH", "postgresql://USER@HOST:PORT/DB[?PARAM=VALUE...]",
// "postgresql:///DB?host=SOCKETDIR", "mqtt[s]://[USER@]HOST:PORT[/PREFIX][?PARAM=VALUE...]",
// or another kind's; nothing and why for anything else. A password written
// in a URL on the command line is refused (every user sees it in ps), and
// so is a secret file that others may read.
std::optional<StoreUrl> parseStoreUrl(const QString& text, std::string* why, UrlOrigin origin = UrlOrigin::Roster);
// The output its kind makes of a URL parseStoreUrl gave.
std::unique_ptr<Sink> makeSink(const StoreUrl& url);
// Whether the URL's kind is opened once before anything is called.
bool checkedAtStart(const StoreUrl& url);

}  // namespace zrv::collect
