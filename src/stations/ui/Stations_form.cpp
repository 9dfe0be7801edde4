#include "Stations_form.h"

#include "fleet/Outcome.h"
#include "fleet/StoreReader.h"
#include "link/PortMap.h"
#include "stations/ui/History_form.h"
#include "stations/ui/ReadAside.h"
#include "windowbase/Preferences.h"
#include "windowbase/Text.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace zrv::stations {

QThreadPool* readerPool()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(1);
        pool->setThreadPriority(QThread::LowPriority);
    }
    return pool;
}

}  // namespace zrv::stations

using zrv::stations::readAside;

using zrv::uiText;

namespace {

constexpr char kRosterKey[] = "stations/roster";
// The one entry in the ports folder this window made, and what it holds.
constexpr char kOwnEntryKey[] = "stations/ownEntry";
// The packaged collector's roster: what a dispatcher's machine has.
constexpr char kSystemRoster[] = "/etc/zrvcollect/stations.toml";


// A cell that sorts by its key (numbers as numbers, an empty cell first),
// not by the text it shows. A cell with no key is empty.
class Cell : public QTableWidgetItem {
public:
    explicit Cell(const QString& text) : Cell(text, QVariant(text)) {}
    Cell(const QString& text, const QVariant& key) : QTableWidgetItem(text)
    {
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        if (key.isValid()) setData(Qt::UserRole, key);
    }
    bool operator<(const QTableWidgetItem& other) const override
    {
        const QVariant a = data(Qt::UserRole);
        const QVariant b = other.data(Qt::UserRole);
        if (!a.isValid() || !b.isValid()) return !a.isValid() && b.isValid();
        const QPartialOrdering order = QVariant::compare(a, b);
        if (order == QPartialOrdering::Unordered) return a.toString() < b.toString();
        return order == QPartialOrdering::Less;
    }
};

// A cell shows one line of a text, cut short; the tooltip a larger, still
// bounded, part. A reason of megabytes from a damaged store never reaches
// the table whole, where laying it out would hold the window for seconds.
constexpr int kCellChars = 200;
constexpr int kTipChars = 2000;
Cell* boundedCell(const QString& text)
{
    QString line = text.left(kCellChars + 1);
    const qsizetype lineEnd = line.indexOf(QLatin1Char('\n'));
    if (lineEnd >= 0) line.truncate(lineEnd);
    const bool cut = line.size() < text.size();
    if (line.size() > kCellChars) line.truncate(kCellChars);
    auto* cell = new Cell(cut ? line + QStringLiteral("…") : line, line);
    if (cut) cell->setToolTip(text.size() > kTipChars ? text.left(kTipChars) + QStringLiteral("…") : text);
    return cell;
}

QString localTime(const QString& utcIso)
{
    QDateTime at = QDateTime::fromString(utcIso, Qt::ISODateWithMs);
    if (!at.isValid()) return QStringLiteral("неизвестно");
    return at.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

QTableWidget* makeTable(QWidget* parent, const char* name, const QStringList& captions)
{
    auto* t = new QTableWidget(0, int(captions.size()), parent);
    t->setObjectName(name);
    t->setHorizontalHeaderLabels(captions);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setWordWrap(false);
    t->verticalHeader()->setVisible(false);
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 4);
    return t;
}

void setWidths(QTableWidget* t, std::initializer_list<int> digits)
{
    const int digit = t->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const QFontMetrics header(t->horizontalHeader()->font());
    int c = 0;
    // Never narrower than the column's caption.
    for (int d : digits) {
        const QTableWidgetItem* caption = t->horizontalHeaderItem(c);
        const int least = caption ? header.horizontalAdvance(caption->text()) + 16 : 0;
        t->setColumnWidth(c++, std::max(d * digit + 12, least));
    }
}

// The change record's rows as a table shows them, newest first.
void fillChangeRows(QTableWidget* t, const std::vector<const zrv::ChangeRow*>& rows)
{
    t->setSortingEnabled(false);
    t->setRowCount(int(rows.size()));
    for (int i = 0; i < int(rows.size()); ++i) {
        const zrv::ChangeRow& r = *rows[std::size_t(i)];
        const QDateTime local = QDateTime::fromString(r.local, Qt::ISODate);
        const bool onOff = r.what == QLatin1String("external control");
        const auto value = [onOff](const QString& v) {
            if (!onOff) return v;
            return v == QLatin1String("true") ? QStringLiteral("вкл") : v == QLatin1String("false") ? QStringLiteral("выкл") : v;
        };
        const QStringList cells = {local.isValid() ? local.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"))
                                                   : r.local.isEmpty() ? r.utc : r.local,
                                   r.host.isEmpty() ? r.user : r.user + QLatin1Char('@') + r.host,
                                   r.port,
                                   r.device ? QStringLiteral("ZRV-%1").arg(r.device) : QString(),
                                   zrv::changeWhatText(r.what),
                                   value(r.before),
                                   value(r.after),
                                   QString::fromStdString(zrv::fleet::outcomeWords(r.outcome.toStdString()))};
        for (int c = 0; c < int(cells.size()) && c < t->columnCount(); ++c) t->setItem(i, c, boundedCell(cells[c]));
        // Sorted by when, not by how the date reads.
        t->item(i, 0)->setData(Qt::UserRole, r.utc.isEmpty() ? r.local : r.utc);
    }
}

struct FleetRead {
    std::optional<zrv::fleet::Roster> roster;  // read anew; none: refused (rosterWhy)
    std::string rosterWhy;
    std::string store;
    std::optional<std::map<std::string, zrv::fleet::LastCall>> calls;
    zrv::fleet::StationFindings findings;
    std::string why;
    bool busy = false;
    std::string remark;
    std::map<QString, std::vector<zrv::ChangeRow>> changesByPort;
};

const QStringList& changeCaptions()
{
    static const QStringList c = {QStringLiteral("Время"), QStringLiteral("Пользователь"), QStringLiteral("Порт"),
                                  QStringLiteral("Прибор"), QStringLiteral("Что"), QStringLiteral("Было"),
                                  QStringLiteral("Стало"), QStringLiteral("Итог")};
    return c;
}

}  // namespace

TStations::TStations(QMdiArea* area, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Станции"), "Stations_form", true), m_session(session)
{
    QWidget* client = content();
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto* top = new QHBoxLayout;
    RosterPath = new QLabel(QStringLiteral("Список станций не открыт"), client);
    RosterPath->setObjectName("RosterPath");
    RosterPath->setAccessibleDescription(QStringLiteral("Список станций"));
    RosterPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    OpenRoster = new QPushButton(QStringLiteral("Открыть список станций..."), client);
    OpenRoster->setObjectName("OpenRoster");
    Refresh = new QPushButton(QStringLiteral("Обновить"), client);
    Refresh->setObjectName("Refresh");
    top->addWidget(RosterPath, 1);
    top->addWidget(Refresh);
    top->addWidget(OpenRoster);
    layout->addLayout(top);

    // The filters one above the other, each with its button: at the
    // terminal's own width the two captions side by side would be cut.
    auto* filterBar = new QGridLayout;
    AttentionOnly = new QCheckBox(QStringLiteral("Только неудачный вызов или отличие от профиля"), client);
    AttentionOnly->setObjectName("AttentionOnly");
    Choose = new QPushButton(QStringLiteral("Выбрать"), client);
    Choose->setObjectName("Choose");
    Choose->setToolTip(QStringLiteral("Выбрать станцию в окне «Выбор устройства» (двойной щелчок, Enter)"));
    FindingsOnly = new QCheckBox(QStringLiteral("Только с замечаниями"), client);
    FindingsOnly->setObjectName("FindingsOnly");
    ShowHistory = new QPushButton(QStringLiteral("История..."), client);
    ShowHistory->setObjectName("ShowHistory");
    ShowHistory->setToolTip(QStringLiteral("Давления, пределы отсечки, батарея и часы станции за 7, 30 или 90 дней"));
    filterBar->addWidget(AttentionOnly, 0, 0);
    filterBar->addWidget(FindingsOnly, 1, 0);
    filterBar->setColumnStretch(1, 1);
    filterBar->addWidget(ShowHistory, 0, 2);
    filterBar->addWidget(Choose, 1, 2);
    layout->addLayout(filterBar);

    Table = makeTable(client, "Table",
                      {QStringLiteral("Станция"), QStringLiteral("Порт"), QStringLiteral("Адрес"),
                       QStringLiteral("Телефон"), QStringLiteral("Последний вызов"), QStringLiteral("Итог"),
                       QStringLiteral("Часы, с"), QStringLiteral("Отличий от профиля"), QStringLiteral("Новых записей"),
                       QStringLiteral("Замечания")});
    Table->setAccessibleName(QStringLiteral("Станции"));
    // The roster's own order until the operator sorts by a column.
    Table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    Table->horizontalHeader()->setSortIndicatorShown(true);
    Table->horizontalHeader()->setStretchLastSection(true);  // the findings take what room is left
    setWidths(Table, {16, 16, 5, 11, 17, 24, 7, 8, 8, 26});
    layout->addWidget(Table, 3);

    StoreState = new QLabel(client);
    StoreState->setObjectName("StoreState");
    StoreState->setAccessibleDescription(QStringLiteral("Хранилище вызовов"));
    StoreState->setWordWrap(true);
    layout->addWidget(StoreState);
    ChoiceState = new QLabel(client);
    ChoiceState->setObjectName("ChoiceState");
    ChoiceState->setAccessibleDescription(QStringLiteral("Выбор станции"));
    ChoiceState->setWordWrap(true);
    layout->addWidget(ChoiceState);

    ChangesCaption = new QLabel(QStringLiteral("Последние изменения: выберите строку"), client);
    ChangesCaption->setObjectName("ChangesCaption");
    layout->addWidget(ChangesCaption);
    Changes = makeTable(client, "Changes", changeCaptions());
    Changes->setAccessibleName(QStringLiteral("Последние изменения"));
    setWidths(Changes, {17, 14, 6, 8, 20, 20, 20, 10});
    layout->addWidget(Changes, 2);

    connect(OpenRoster, &QPushButton::clicked, this, [this] {
        const QString path = chooseFile ? chooseFile()
                                        : QFileDialog::getOpenFileName(this, QStringLiteral("Открыть список станций"),
                                                                       QFileInfo(m_rosterPath).absolutePath(),
                                                                       QStringLiteral("Список станций (*.toml);;Все файлы (*)"));
        if (!path.isEmpty()) openRoster(path);
    });
    connect(Refresh, &QPushButton::clicked, this, &TStations::refresh);
    connect(AttentionOnly, &QCheckBox::toggled, this, &TStations::applyFilter);
    connect(FindingsOnly, &QCheckBox::toggled, this, &TStations::applyFilter);
    connect(ShowHistory, &QPushButton::clicked, this, [this] { showHistory(Table->currentRow()); });
    // Enter and a double click both activate a row.
    connect(Table, &QTableWidget::activated, this, [this](const QModelIndex& i) { chooseRow(i.row()); });
    connect(Choose, &QPushButton::clicked, this, [this] { chooseRow(Table->currentRow()); });
    connect(Table, &QTableWidget::currentCellChanged, this, &TStations::showChanges);
    connect(&session, &zrv::Session::changeRecorded, this, [this](const QString& failure) {
        if (failure.isEmpty() && isVisible()) refresh();
    });

    setAsideAsTool({1080, 460}, {0, 0});
}

void TStations::showEvent(QShowEvent* event)
{
    TChildForm::showEvent(event);
    if (!openRememberedRoster()) refresh();
}

bool TStations::openRememberedRoster()
{
    if (!m_rosterPath.isEmpty() || m_triedRemembered) return false;
    m_triedRemembered = true;
    QString path = zrv::prefs::value(QLatin1String(kRosterKey)).toString();
    if (path.isEmpty() && QFileInfo::exists(QLatin1String(kSystemRoster))) path = QLatin1String(kSystemRoster);
    return !path.isEmpty() && openRoster(path);
}

bool TStations::openRoster(const QString& path)
{
    std::string error;
    std::optional<zrv::fleet::Roster> roster = zrv::fleet::loadRoster(path.toStdString(), &error);
    if (!roster) {
        // The roster shown before stays: a faulty new one costs nothing.
        // With none shown, this one is read again on each refresh, so that
        // once mended on disk it is taken.
        m_rosterProblem = QStringLiteral("Список станций не прочитан: %1").arg(uiText(error));
        if (m_rosterPath.isEmpty()) {
            m_rosterPath = QFileInfo(path).absoluteFilePath();
            RosterPath->setText(QStringLiteral("Список станций: %1").arg(m_rosterPath));
        }
        StoreState->setText(m_rosterProblem);
        return false;
    }
    m_rosterPath = QFileInfo(path).absoluteFilePath();
    m_roster = std::move(*roster);
    m_rosterProblem.clear();
    zrv::prefs::setValue(QLatin1String(kRosterKey), m_rosterPath);
    RosterPath->setText(QStringLiteral("Список станций: %1").arg(m_rosterPath));
    ChoiceState->clear();
    // The new roster's rows at once; its calls follow from the store.
    m_calls.clear();
    m_callsStore.clear();
    fillTable();
    refresh();
    return true;
}

void TStations::refresh()
{
    const unsigned generation = ++m_generation;
    if (m_rosterPath.isEmpty()) {
        m_calls.clear();
        StoreState->setText(QStringLiteral("Откройте список станций, по которому zrvcollect вызывает приборы."));
    }
    // The roster is read anew too: a port changed on disk is the one chosen.
    // Should it have become faulty, the last good one stays, and its store.
    const std::string rosterPath = m_rosterPath.toStdString();
    std::string lastStoreWhy;
    const std::string lastStore =
        m_roster.stations.empty() ? std::string() : zrv::fleet::rosterStorePath(m_roster, rosterPath, &lastStoreWhy);
    const QString changes = m_session.options().changeRecordPath;
    readAside<FleetRead>(
        this,
        [rosterPath, lastStore, lastStoreWhy, changes] {
            FleetRead r;
            if (!rosterPath.empty()) {
                r.roster = zrv::fleet::loadRoster(rosterPath, &r.rosterWhy);
                std::string storeWhy = lastStoreWhy;
                r.store = r.roster ? zrv::fleet::rosterStorePath(*r.roster, rosterPath, &storeWhy) : lastStore;
                if (!r.store.empty())
                    r.calls = zrv::fleet::readLastCalls(r.store, &r.why, &r.busy, &r.remark, &r.findings);
                else r.why = storeWhy;
            }
            // Only the newest changes of each port are kept: the window
            // shows a station's last few, and a port may serve a few devices.
            zrv::ChangeLog log = zrv::readChangeLog(changes);
            constexpr std::size_t kPerPort = 200;
            for (auto c = log.rows.rbegin(); c != log.rows.rend(); ++c) {
                std::vector<zrv::ChangeRow>& port = r.changesByPort[c->port];
                if (port.size() < kPerPort) port.push_back(std::move(*c));
            }
            return r;
        },
        [this, generation](FleetRead r) {
            // A later refresh has been asked for: its answer counts.
            if (generation != m_generation) return;
            if (!m_rosterPath.isEmpty()) {
                QString rosterNote;
                if (r.roster) {
                    const bool first = m_roster.stations.empty();
                    m_roster = std::move(*r.roster);
                    m_rosterProblem.clear();
                    if (first) RosterPath->setText(QStringLiteral("Список станций: %1").arg(m_rosterPath));
                } else {
                    m_rosterProblem = QStringLiteral("Список станций не прочитан: %1").arg(uiText(r.rosterWhy));
                    rosterNote = m_roster.stations.empty() ? m_rosterProblem
                                                          : m_rosterProblem + QStringLiteral("; показан последний прочитанный.");
                }
                QString state;
                const QString store = uiText(zrv::fleet::shownSource(r.store));
                if (r.store.empty()) {
                    m_calls.clear();
                    m_findings.clear();
                    m_source.clear();
                    state = uiText(r.why);
                } else if (r.calls) {
                    m_calls = std::move(*r.calls);
                    m_findings = std::move(r.findings);
                    m_source = r.store;
                    m_callsStore = store;
                    m_callsReadAt = QDateTime::currentDateTime();
                    state = QStringLiteral("Последние вызовы: %1").arg(store);
                    if (!r.remark.empty()) state += QStringLiteral(" (%1)").arg(uiText(r.remark));
                } else if (r.busy && m_callsStore == store) {
                    // The collector writes its round: what was read stays.
                    state = QStringLiteral("Хранилище %1 занято сборщиком: показаны вызовы, прочитанные в %2; "
                                           "нажмите «Обновить» позже.")
                                .arg(store, m_callsReadAt.toString(QStringLiteral("hh:mm:ss")));
                } else {
                    // Without the store the roster is still worth its rows.
                    m_calls.clear();
                    m_findings.clear();
                    m_callsStore.clear();
                    state = QStringLiteral("Последние вызовы не прочитаны: %1").arg(uiText(r.why));
                }
                StoreState->setText(rosterNote.isEmpty() ? state : rosterNote + QLatin1Char('\n') + state);
            }
            m_changes.swap(r.changesByPort);
            fillTable();
            showChanges();
            emit refreshed();
        });
}

void TStations::fillTable()
{
    const QString current = Table->currentRow() >= 0 && Table->item(Table->currentRow(), Name)
                                ? Table->item(Table->currentRow(), Name)->text()
                                : QString();
    Table->setSortingEnabled(false);
    Table->setRowCount(int(m_roster.stations.size()));
    for (int i = 0; i < int(m_roster.stations.size()); ++i) {
        const zrv::fleet::Station& s = m_roster.stations[std::size_t(i)];
        auto* name = new Cell(uiText(s.name));
        // The roster's order, whatever the sorting: the station behind a row.
        name->setData(Qt::UserRole + 1, i);
        Table->setItem(i, Name, name);
        Table->setItem(i, Port, boundedCell(uiText(s.port)));
        Table->setItem(i, Address, new Cell(QString::number(s.address), s.address));
        Table->setItem(i, Phone, new Cell(uiText(s.phone)));
        const auto open = m_findings.find(s.name);
        if (open != m_findings.end() && !open->second.empty()) {
            QStringList words, lines;
            int critical = 0;
            for (const zrv::fleet::Finding& f : open->second) {
                words << uiText(zrv::fleet::kindText(f.kind));
                lines << (f.critical() ? QStringLiteral("критично: ") : QStringLiteral("внимание: ")) + uiText(f.text) +
                             QStringLiteral(" (с %1)").arg(localTime(uiText(f.since)));
                critical += f.critical();
            }
            // Sorted by weight: the critical first when sorted descending.
            auto* cell = new Cell(words.join(QStringLiteral("; ")).left(kCellChars), critical * 1000 + int(words.size()));
            cell->setToolTip(lines.join(QLatin1Char('\n')).left(kTipChars));
            if (critical) cell->setForeground(QColor(Qt::darkRed));
            Table->setItem(i, Findings, cell);
        } else {
            Table->setItem(i, Findings, new Cell(QString(), QVariant()));
        }
        const auto found = m_calls.find(s.name);
        if (found == m_calls.end()) {
            for (int c = LastCall; c < Findings; ++c) Table->setItem(i, c, new Cell(QString(), QVariant()));
            continue;
        }
        const zrv::fleet::LastCall& call = found->second;
        const QString when = localTime(uiText(call.startedUtc));
        Table->setItem(i, LastCall, new Cell(when, QDateTime::fromString(uiText(call.startedUtc), Qt::ISODateWithMs).isValid()
                                                       ? QVariant(uiText(call.startedUtc))
                                                       : QVariant()));
        QString said = uiText(zrv::fleet::outcomeWords(call.outcome));
        if (call.failed() && !call.why.empty()) said += QStringLiteral(": ") + uiText(call.why);
        auto* outcomeCell = boundedCell(said);
        if (call.failed()) outcomeCell->setForeground(QColor(Qt::darkRed));
        Table->setItem(i, Outcome, outcomeCell);
        Table->setItem(i, ClockOffset,
                       call.clockOffsetS ? new Cell(QString::asprintf("%+lld", *call.clockOffsetS), qlonglong(*call.clockOffsetS))
                                         : new Cell(QString(), QVariant()));
        auto* differences = call.setpointDifferences
                                ? new Cell(QString::number(*call.setpointDifferences), *call.setpointDifferences)
                                : new Cell(s.profile.empty() ? QString() : QStringLiteral("не сравнивались"), QVariant());
        if (call.differs()) differences->setForeground(QColor(Qt::darkRed));
        Table->setItem(i, Differences, differences);
        Table->setItem(i, NewRecords, new Cell(QString::number(call.recordsRead), call.recordsRead));
    }
    Table->setSortingEnabled(true);
    applyFilter();
    const int again = rowOf(current);
    if (again >= 0) Table->setCurrentCell(again, Name);
}

const zrv::fleet::Station* TStations::stationAt(int row) const
{
    const QTableWidgetItem* name = row >= 0 ? Table->item(row, Name) : nullptr;
    if (!name) return nullptr;
    const int i = name->data(Qt::UserRole + 1).toInt();
    return i >= 0 && i < int(m_roster.stations.size()) ? &m_roster.stations[std::size_t(i)] : nullptr;
}

void TStations::applyFilter()
{
    const bool only = AttentionOnly->isChecked();
    const bool findingsOnly = FindingsOnly->isChecked();
    for (int row = 0; row < Table->rowCount(); ++row) {
        const zrv::fleet::Station* s = stationAt(row);
        const auto found = s ? m_calls.find(s->name) : m_calls.end();
        const bool attention = found != m_calls.end() && (found->second.failed() || found->second.differs());
        const auto open = s ? m_findings.find(s->name) : m_findings.end();
        const bool findings = open != m_findings.end() && !open->second.empty();
        Table->setRowHidden(row, (only && !attention) || (findingsOnly && !findings));
    }
}

int TStations::rowOf(const QString& stationName) const
{
    if (stationName.isEmpty()) return -1;
    for (int row = 0; row < Table->rowCount(); ++row)
        if (Table->item(row, Name) && Table->item(row, Name)->text() == stationName) return row;
    return -1;
}

bool TStations::showHistory(int row)
{
    const zrv::fleet::Station* s = stationAt(row);
    if (!s) {
        ChoiceState->setText(QStringLiteral("Выберите строку станции."));
        return false;
    }
    if (m_source.empty()) {
        ChoiceState->setText(QStringLiteral("История «%1» не показана: хранилище вызовов не прочитано.").arg(uiText(s->name)));
        return false;
    }
    if (!m_history) m_history = new TStationHistory(mdiArea());
    m_history->showStation(uiText(s->name), m_source);
    showOrPutAside(m_history, true);
    return true;
}

bool TStations::chooseRow(int row)
{
    const zrv::fleet::Station* s = stationAt(row);
    if (!s) {
        ChoiceState->setText(QStringLiteral("Выберите строку станции."));
        return false;
    }
    const QString name = uiText(s->name);
    if (m_session.state().connection != zrv::Connection::Disconnected) {
        ChoiceState->setText(QStringLiteral("«%1» не выбрана: соединение уже есть; нажмите Stop в окне «Выбор устройства».").arg(name));
        return false;
    }
    std::string why;
    // The roster's own COMn ports are never made to lead elsewhere.
    std::set<int> reserved;
    for (const zrv::fleet::Station& other : m_roster.stations)
        if (const std::optional<int> n = zrv::comNumberFromName(other.port)) reserved.insert(*n);
    const std::optional<zrv::fleet::PortChoice> port = zrv::fleet::preparePort(s->port, reserved, ownEntry(), &why);
    if (!port) {
        ChoiceState->setText(QStringLiteral("«%1» не выбрана: %2").arg(name, uiText(why)));
        return false;
    }
    if (!port->madeEntry.empty()) setOwnEntry(zrv::fleet::OwnEntry{port->com, port->madeEntry});
    const StationChoice choice{name, port->com, s->address, uiText(s->phone), uiText(s->profile)};
    const QString refused = fillSelection ? fillSelection(choice) : QStringLiteral("некуда");
    if (!refused.isEmpty()) {
        // Nothing is left behind by a refusal.
        if (!port->madeEntry.empty()) {
            zrv::fleet::removeOwnEntry({port->com, port->madeEntry});
            setOwnEntry(std::nullopt);
        }
        ChoiceState->setText(QStringLiteral("«%1» не выбрана: %2").arg(name, refused));
        return false;
    }
    QString said = QStringLiteral("«%1» выбрана в окне «Выбор устройства»: COM%2").arg(name, QString::number(port->com));
    if (!port->madeEntry.empty())
        said += QStringLiteral(" (в папке портов записано: %1)").arg(uiText(port->madeEntry));
    said += QStringLiteral(", адрес %1").arg(s->address);
    if (!s->phone.empty()) said += QStringLiteral(", модем, номер %1").arg(uiText(s->phone));
    ChoiceState->setText(said + QStringLiteral(". Нажмите Connect."));
    return true;
}

std::optional<zrv::fleet::OwnEntry> TStations::ownEntry() const
{
    const QString kept = zrv::prefs::value(QLatin1String(kOwnEntryKey)).toString();
    const qsizetype tab = kept.indexOf(QLatin1Char('\t'));
    if (tab < 0) return std::nullopt;
    const std::optional<int> com = zrv::comNumberFromName(kept.left(tab).toStdString());
    if (!com) return std::nullopt;
    return zrv::fleet::OwnEntry{*com, kept.mid(tab + 1).toStdString()};
}

void TStations::setOwnEntry(const std::optional<zrv::fleet::OwnEntry>& entry)
{
    zrv::prefs::setValue(QLatin1String(kOwnEntryKey),
                         entry ? QStringLiteral("COM%1\t%2").arg(entry->com).arg(uiText(entry->content)) : QString());
}

QString TStations::profileFor(int com, int address)
{
    openRememberedRoster();
    for (const zrv::fleet::Station& s : m_roster.stations)
        if (s.address == address && !s.profile.empty() && zrv::fleet::stationOnCom(s.port, com)) return uiText(s.profile);
    return {};
}

void TStations::showChanges()
{
    const zrv::fleet::Station* s = stationAt(Table->currentRow());
    if (!s) {
        ChangesCaption->setText(QStringLiteral("Последние изменения: выберите строку"));
        Changes->setRowCount(0);
        return;
    }
    const auto found = m_calls.find(s->name);
    const unsigned device = found != m_calls.end() ? found->second.deviceNumber : 0;
    // Newest first, the last twenty made through a COMn that leads to this
    // station's port (and, where the collector knows it, to its device).
    std::vector<const zrv::ChangeRow*> rows;
    for (int com = 1; com <= zrv::kComPortCount; ++com) {
        const auto port = m_changes.find(QStringLiteral("COM%1").arg(com));
        if (port == m_changes.end() || !zrv::fleet::stationOnCom(s->port, com)) continue;
        for (const zrv::ChangeRow& r : port->second)
            if (!device || !r.device || r.device == device) rows.push_back(&r);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const zrv::ChangeRow* a, const zrv::ChangeRow* b) { return a->utc > b->utc; });
    constexpr std::size_t kShown = 20;
    if (rows.size() > kShown) rows.resize(kShown);
    ChangesCaption->setText(rows.empty() ? QStringLiteral("Последние изменения «%1»: нет").arg(uiText(s->name))
                                         : QStringLiteral("Последние изменения «%1»:").arg(uiText(s->name)));
    fillChangeRows(Changes, rows);
}

TChangeLog::TChangeLog(QMdiArea* area, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Журнал изменений"), "ChangeLog_form", true), m_session(session)
{
    QWidget* client = content();
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    auto* bar = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral("Прибор:"), client);
    DeviceFilter = new QComboBox(client);
    DeviceFilter->setObjectName("DeviceFilter");
    caption->setBuddy(DeviceFilter);
    DeviceFilter->setAccessibleName(QStringLiteral("Прибор"));
    DeviceFilter->setMinimumContentsLength(12);
    bar->addWidget(caption);
    bar->addWidget(DeviceFilter);
    bar->addStretch(1);
    layout->addLayout(bar);
    Table = makeTable(client, "Table", changeCaptions());
    Table->setAccessibleName(QStringLiteral("Журнал изменений"));
    Table->horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    setWidths(Table, {17, 14, 6, 8, 20, 24, 24, 10});
    layout->addWidget(Table, 1);
    Summary = new QLabel(client);
    Summary->setObjectName("Summary");
    Summary->setAccessibleDescription(QStringLiteral("Итог журнала изменений"));
    Summary->setWordWrap(true);
    layout->addWidget(Summary);

    connect(DeviceFilter, &QComboBox::currentIndexChanged, this, &TChangeLog::showRows);
    connect(&session, &zrv::Session::changeRecorded, this, [this](const QString& failure) {
        if (failure.isEmpty() && isVisible()) reload();
    });
    setAsideAsTool({860, 360}, {0, 0});
}

void TChangeLog::showEvent(QShowEvent* event)
{
    TChildForm::showEvent(event);
    reload();
}

void TChangeLog::reload()
{
    const unsigned generation = ++m_generation;
    const QString path = m_session.options().changeRecordPath;
    readAside<zrv::ChangeLog>(
        this, [path] { return zrv::readChangeLog(path); },
        [this, generation, path](zrv::ChangeLog log) {
            if (generation != m_generation) return;
            m_log = std::move(log);
            // The device list from the file, the operator's choice kept.
            const QString chosen = DeviceFilter->currentText();
            QStringList devices;
            for (const zrv::ChangeRow& r : m_log.rows)
                if (r.device && !devices.contains(QStringLiteral("ZRV-%1").arg(r.device)))
                    devices << QStringLiteral("ZRV-%1").arg(r.device);
            devices.sort();
            {
                const QSignalBlocker quiet(DeviceFilter);
                DeviceFilter->clear();
                DeviceFilter->addItem(QStringLiteral("Все приборы"));
                DeviceFilter->addItems(devices);
                DeviceFilter->setCurrentIndex(std::max(0, DeviceFilter->findText(chosen)));
            }
            m_path = path;
            showRows();
            emit reloaded();
        });
}

void TChangeLog::showRows()
{
    bool ok = false;
    const unsigned device = DeviceFilter->currentIndex() > 0 ? DeviceFilter->currentText().mid(4).toUInt(&ok) : 0;
    // Newest first, as many as a table can take at once.
    std::vector<const zrv::ChangeRow*> rows;
    int matching = 0;
    for (auto r = m_log.rows.rbegin(); r != m_log.rows.rend(); ++r) {
        if (ok && r->device != device) continue;
        ++matching;
        if (rows.size() < kShownRows) rows.push_back(&*r);
    }
    fillChangeRows(Table, rows);
    Table->setSortingEnabled(true);
    QString said = m_log.problem.isEmpty() ? QStringLiteral("%1: записей %2").arg(m_path).arg(matching) : m_log.problem;
    if (matching > int(rows.size())) said += QStringLiteral(", показаны последние %1").arg(rows.size());
    if (m_log.unreadable) said += QStringLiteral("; непонятных строк пропущено: %1").arg(m_log.unreadable);
    if (m_log.cutShort) said += QStringLiteral("; файл велик, прочитана его последняя часть");
    Summary->setText(said);
}
