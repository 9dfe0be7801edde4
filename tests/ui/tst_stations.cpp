// The fleet in the terminal: the collector's roster and what its store says
// of each station's last call, a station chosen into "Выбор устройства" and
// connected, its profile offered, and the record of changes read back.

#include "Servers.h"
#include "SimServer.h"
#include "connection/ui/Select_form.h"
#include "fleet/Schema.h"
#include "journal/ReportBuilder.h"
#include "fleet/StoreReader.h"
#include "modem/ui/Modem.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "stations/ui/History_form.h"
#include "stations/ui/Stations_form.h"
#include "support/AccessibilityAudit.h"
#include "support/LoopbackPort.h"
#include "support/Settle.h"
#include "support/SimulatedTerminal.h"

#include <QAccessibleTableInterface>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <sqlite3.h>

class TestStations : public SimulatedTerminal {
    Q_OBJECT

private:
    TStations* stations() { return t().stations; }
    QStringList column(QTableWidget* table, int c, bool shownOnly)
    {
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r)
            if (!shownOnly || !table->isRowHidden(r)) out << (table->item(r, c) ? table->item(r, c)->text() : QString());
        return out;
    }
    QString cell(const QString& station, int c)
    {
        const int row = stations()->rowOf(station);
        return row >= 0 && stations()->Table->item(row, c) ? stations()->Table->item(row, c)->text() : QString("?");
    }

    // A control room's store as statements both engines take: two stations,
    // one with a battery running down, a clock drifting, a journal of 480
    // records over 20 days (one P2 over the limit, one with no P2), and a
    // call whose values no device reports.
    static QStringList controlRoomStore()
    {
        QStringList sql;
        sql << QString::fromLatin1(zrv::fleet::kCreateSchemaTable);
        for (std::size_t v = 0; v < zrv::fleet::schemaSteps().size(); ++v) {
            for (const std::string& step : zrv::fleet::schemaSteps()[v]) sql << QString::fromStdString(step);
            sql << QString("INSERT INTO zrv_schema (version) VALUES (%1)").arg(v + 1);
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto utc = [&](double daysAgo) { return now.addSecs(-qint64(daysAgo * 86400)).toString(Qt::ISODateWithMs); };
        QStringList calls;
        const double volts[] = {3.45, 3.4, 3.35, 3.3, 3.1};
        const double ago[] = {20, 15, 10, 5, 1};
        for (int i = 0; i < 5; ++i)
            calls << QString("('с%1', 'Север', '%2', 1, 'ok', 127, %3, %4, 5.0, 0.5, 12.0, 1.0)")
                         .arg(i)
                         .arg(utc(ago[i]))
                         .arg(volts[i])
                         .arg(i * 20);
        calls << QString("('с9', 'Север', '%1', 1, 'ok', 127, -5, 9000000000000000, NULL, NULL, NULL, NULL)").arg(utc(0.5));
        calls << QString("('ю1', 'Юг', '%1', 1, 'ok', 128, 3.6, 0, 5.0, 0.5, 12.0, 1.0)").arg(utc(1));
        sql << "INSERT INTO calls (call_id, station, started_utc, attempt, outcome, device_number, vbat, clock_offset_s, "
               "p2_max, p2_min, p1_max, p1_min) VALUES " + calls.join(',');
        QStringList records;
        for (int i = 0; i < 480; ++i) {
            const QString at = now.addSecs(-qint64(20 * 86400) + i * 3600).toLocalTime().toString("yyyy-MM-ddTHH:mm:ss");
            const QString p2 = i == 100 ? "6.2" : i == 200 ? "NULL" : QString::number(2.0 + (i % 7) * 0.01);
            records << QString("(127, %1, '%2', '%3', 'Север', 'с0', %4, %5)")
                           .arg(512 + i)
                           .arg(i, 4, 16, QChar('0'))
                           .arg(at, QString::number(6.0 + (i % 10) * 0.01), p2);
        }
        sql << "INSERT INTO journal (device_number, start_address, stamp, recorded_at, station, call_id, p1, p2) VALUES " +
                   records.join(',');
        sql << QString("INSERT INTO findings (finding_id, station, kind, severity, since_utc, seen_utc, cleared_utc, text) VALUES "
                       "('f1', 'Север', 'battery-low', 'critical', '%1', '%2', NULL, 'батарея 3.10 В, порог 3.20 В'),"
                       "('f2', 'Север', 'clock-drift', 'warning', '%1', '%2', NULL, 'часы уходят на 4.0 с в сутки'),"
                       "('f3', 'Юг', 'link', 'warning', '%1', '%2', '%2', 'сбоев обмена 30 %')")
                   .arg(utc(5), utc(1));
        return sql;
    }
    // The history drawn: how many records and calls it says it read.
    QString drawHistory(int row)
    {
        if (!stations()->showHistory(row)) return stations()->ChoiceState->text();
        QSignalSpy shown(stations()->history(), &TStationHistory::drawn);
        if (!shown.wait(20000)) return QString("not drawn");
        return stations()->history()->State->text();
    }
    static std::pair<double, double> range(const QLineSeries* s)
    {
        double lo = 1e300, hi = -1e300;
        for (const QPointF& p : s->points()) lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
        return {lo, hi};
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void cleanup() { shutDown(); }

    void rosterAndStoreThenAStationChosenConnectsAndItsChangesShow()
    {
        zrvsim::SimOptions o;
        o.tcp = true;
        const std::string error = startSim(o);
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
        const QString simPort = QString("tcp 127.0.0.1 %1").arg(m_sim->tcpPort());

        // The approved profile, taken from the device as it was; then someone
        // changes a setpoint on site.
        connectDevice();
        QVERIFY(t().sets->saveSetpointFile(m_dir.path() + "/grp1.zrvset"));
        t().endConnection();
        settle();
        device([](zrvsim::DeviceModel& d, auto&) { d.holdings[4] = uint16_t(d.holdings[4] + 7); });
        // This machine knows the device server by no COM name of its own.
        QVERIFY(QFile::remove(m_dir.path() + "/cfg/zrvterm/ports/COM1"));

        const QString rosterPath = m_dir.path() + "/stations.toml";
        QFile roster(rosterPath);
        QVERIFY(roster.open(QIODevice::WriteOnly | QIODevice::Truncate));
        roster.write(QString("[defaults]\nstores = [\"sqlite:calls.db\"]\nretries = 0\n"
                             "[[station]]\nname = \"ГРП-1 Лесная\"\nport = \"%1\"\nprofile = \"grp1.zrvset\"\n"
                             "[[station]]\nname = \"ГРП-2 Дальняя\"\nport = \"tcp 127.0.0.1 %2\"\n"
                             "[[station]]\nname = \"ГРП-3 Речная\"\nport = \"%1\"\n"
                             "[[station]]\nname = \"ГРП-4 Полевая\"\nport = \"COM7\"\naddress = 12\nphone = \"84951234567\"\n")
                         .arg(simPort)
                         .arg(freeLoopbackPort())
                         .toUtf8());
        roster.close();

        // Before any round there is no store: the roster alone, said so.
        t().main->StationsF->trigger();
        QVERIFY(stations()->isVisible());
        // At the terminal's own size every filter's caption is whole.
        for (const QCheckBox* filter : {stations()->AttentionOnly, stations()->FindingsOnly})
            QVERIFY2(filter->width() >= filter->sizeHint().width() && filter->isVisible(), qPrintable(filter->text()));
        stations()->chooseFile = [&] { return rosterPath; };
        QTest::mouseClick(stations()->OpenRoster, Qt::LeftButton);
        QCOMPARE(column(stations()->Table, TStations::Name, false),
                 (QStringList{"ГРП-1 Лесная", "ГРП-2 Дальняя", "ГРП-3 Речная", "ГРП-4 Полевая"}));
        // The store and the change record are read aside from the window thread.
        QTRY_VERIFY2(stations()->StoreState->text().contains("не прочитаны") &&
                     stations()->StoreState->text().contains(m_dir.path() + "/calls.db"),
                 qPrintable(stations()->StoreState->text()));
        QCOMPARE(cell("ГРП-4 Полевая", TStations::Phone), QString("84951234567"));

        // One round of the collector, as the service would run it (ГРП-4's
        // COM7 leads nowhere here and is left out of the round).
        QFile cut(rosterPath);
        QVERIFY(cut.open(QIODevice::ReadWrite));
        const QByteArray all = cut.readAll();
        const QByteArray called = all.left(all.indexOf("[[station]]\nname = \"ГРП-4"));
        QFile calledRoster(m_dir.path() + "/called.toml");
        QVERIFY(calledRoster.open(QIODevice::WriteOnly | QIODevice::Truncate));
        calledRoster.write(called);
        calledRoster.close();
        QProcess collector;
        collector.setWorkingDirectory(m_dir.path());
        collector.start(ZRVCOLLECT_PROGRAM, {"--roster", calledRoster.fileName(), "--once", "--state-dir", m_dir.path() + "/state"});
        QVERIFY(collector.waitForFinished(120000));
        QCOMPARE(collector.exitCode(), 1);  // ГРП-2 failed

        QTest::mouseClick(stations()->Refresh, Qt::LeftButton);
        QTRY_VERIFY2(stations()->StoreState->text().startsWith("Последние вызовы: "), qPrintable(stations()->StoreState->text()));
        QCOMPARE(cell("ГРП-1 Лесная", TStations::Outcome), QString("успешно"));
        QVERIFY(cell("ГРП-1 Лесная", TStations::Differences).toInt() >= 1);
        QCOMPARE(cell("ГРП-3 Речная", TStations::Differences), QString());  // no profile
        QVERIFY2(cell("ГРП-2 Дальняя", TStations::Outcome).startsWith("порт недоступен"),
                 qPrintable(cell("ГРП-2 Дальняя", TStations::Outcome)));
        QVERIFY(!cell("ГРП-1 Лесная", TStations::LastCall).isEmpty());
        QVERIFY(!cell("ГРП-1 Лесная", TStations::ClockOffset).isEmpty());
        QCOMPARE(cell("ГРП-4 Полевая", TStations::Outcome), QString());  // never called

        // The filter keeps the failed and the differing station.
        stations()->AttentionOnly->setChecked(true);
        QCOMPARE(column(stations()->Table, TStations::Name, true), (QStringList{"ГРП-1 Лесная", "ГРП-2 Дальняя"}));
        stations()->AttentionOnly->setChecked(false);
        // Sorted by name backwards, a row still stands for its own station.
        stations()->Table->sortByColumn(TStations::Name, Qt::DescendingOrder);
        QCOMPARE(column(stations()->Table, TStations::Name, false).first(), QString("ГРП-4 Полевая"));

        // Enter on ГРП-4: its port, address, the modem ticked and its number.
        stations()->Table->setCurrentCell(stations()->rowOf("ГРП-4 Полевая"), TStations::Name);
        stations()->Table->setFocus();
        QTest::keyClick(stations()->Table, Qt::Key_Return);
        QCOMPARE(t().select->NameCOM->currentText(), QString("COM7"));
        QCOMPARE(t().select->Address->currentIndex(), 11);
        QVERIFY(t().select->ModemEnable->isChecked());
        QCOMPARE(t().connectModem->Number->text(), QString("84951234567"));

        // A double click on ГРП-1: a ports-folder entry for its device server,
        // the port and address chosen, no modem, and nothing connected yet.
        const int row = stations()->rowOf("ГРП-1 Лесная");
        const QRect at = stations()->Table->visualRect(stations()->Table->model()->index(row, TStations::Name));
        // A double click as the pointer gives it: a click, then the second press.
        QTest::mouseClick(stations()->Table->viewport(), Qt::LeftButton, {}, at.center());
        QTest::mouseDClick(stations()->Table->viewport(), Qt::LeftButton, {}, at.center());
        const QString com = t().select->NameCOM->currentText();
        QFile entry(m_dir.path() + "/cfg/zrvterm/ports/" + com);
        QVERIFY2(entry.open(QIODevice::ReadOnly), qPrintable(stations()->ChoiceState->text()));
        QCOMPARE(QString(entry.readAll()).trimmed(), simPort);
        QCOMPARE(t().select->Address->currentIndex(), 0);
        QVERIFY(!t().select->ModemEnable->isChecked());
        QCOMPARE(stateName(session().state()), QStringLiteral("Disconnected"));
        QVERIFY2(stations()->ChoiceState->text().contains(com), qPrintable(stations()->ChoiceState->text()));

        // Connect: the device answers, and its profile is offered first.
        connectDevice();
        QCOMPARE(stateName(session().state()), QStringLiteral("Monitoring"));
        QCOMPARE(t().sets->offeredSetpointFile(), m_dir.path() + "/grp1.zrvset");
        // Choosing again while connected is refused, with the way out said.
        QVERIFY(!stations()->chooseRow(stations()->rowOf("ГРП-3 Речная")));
        QVERIFY(stations()->ChoiceState->text().contains("Stop"));

        // A write shows among the station's last changes and in the record.
        stations()->Table->setCurrentCell(stations()->rowOf("ГРП-1 Лесная"), 0);
        session().ask(zrv::ExternalControl{true});
        settle();
        const int modeBefore = image().holding(0);
        session().ask(zrv::SetMode{modeBefore == 1 ? 2 : 1});
        settle();
        QTRY_COMPARE(stations()->Changes->rowCount(), 2);  // newest first
        QCOMPARE(stations()->Changes->item(1, 4)->text(), QString("внешнее управление"));
        QCOMPARE(stations()->Changes->item(0, 4)->text(), QString("режим"));
        QCOMPARE(stations()->Changes->item(0, 5)->text(), QString::number(modeBefore));
        stations()->Table->setCurrentCell(stations()->rowOf("ГРП-4 Полевая"), 0);
        QCOMPARE(stations()->Changes->rowCount(), 0);

        // "Журнал изменений...": the whole record, a stranger's line passed
        // over and counted, a filter by device.
        QFile changes(m_dir.path() + "/changes.jsonl");
        QVERIFY(changes.open(QIODevice::Append));
        changes.write("not a change\n{\"local\":\"2026-01-01T00:00:00\",\"port\":\"COM9\",\"device\":77,\"what\":\"clock\","
                      "\"before\":\"2025-12-31T23:00:00\",\"after\":\"2026-01-01T00:00:00\",\"outcome\":\"ok\"}\n");
        changes.close();
        t().main->ChangeLogF->trigger();
        TChangeLog* log = t().changeLog;
        QVERIFY(log->isVisible());
        // The first connection's close switched external control off as well.
        QTRY_COMPARE(column(log->Table, 4, false),
                 (QStringList{"режим", "внешнее управление", "внешнее управление", "часы"}));
        QVERIFY2(log->Summary->text().contains("непонятных строк пропущено: 1"), qPrintable(log->Summary->text()));
        log->DeviceFilter->setCurrentText("ZRV-77");
        QCOMPARE(column(log->Table, 4, true), QStringList{"часы"});
        log->DeviceFilter->setCurrentIndex(0);
        QCOMPARE(column(log->Table, 4, true).size(), 4);

        // Read as a screen reader reads them: every cell its own value.
        for (QTableWidget* table : {stations()->Table, log->Table}) {
            QAccessibleTableInterface* a = QAccessible::queryAccessibleInterface(table)->tableInterface();
            QVERIFY(a);
            QCOMPARE(a->rowCount(), table->rowCount());
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c = 0; c < table->columnCount(); ++c)
                    QCOMPARE(a->cellAt(r, c)->text(QAccessible::Name), table->item(r, c)->text());
        }
        for (QWidget* w : {static_cast<QWidget*>(stations()), static_cast<QWidget*>(log)}) {
            const QStringList problems = accessibilityProblems(w);
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
        }
    }

    void aRosterStoreAndRecordAsTheyGoWrongInTheField()
    {
        zrvsim::SimOptions o;
        o.tcp = true;
        const std::string error = startSim(o);
        QVERIFY2(error.empty(), error.c_str());
        // A second regulator, behind the operator's own COM32.
        zrvsim::SimOptions ro;
        ro.tcp = true;
        zrvsim::SimServer river(ro);
        river.withDevice([](zrvsim::DeviceModel& d, auto&) {
            d.setValveWeights({10, 20, 30, 40, 50, 60, 70, 80});  // ZRV-360
            return 0;
        });
        std::string riverError;
        QVERIFY2(river.start(&riverError), riverError.c_str());
        createTerminal();
        const QString ports = m_dir.path() + "/cfg/zrvterm/ports";
        QFile com32(ports + "/COM32");
        QVERIFY(com32.open(QIODevice::WriteOnly));
        com32.write(QString("tcp 127.0.0.1 %1\n").arg(river.tcpPort()).toUtf8());
        com32.close();
        const auto entries = [&] { return QDir(ports).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size(); };

        const QString rosterPath = m_dir.path() + "/field.toml";
        const auto writeRoster = [&](const QString& nodePort) {
            QString text = QString("[defaults]\nstores = [\"sqlite:field.db\"]\n"
                                   "[[station]]\nname = \"Узел\"\nport = \"%1\"\n"
                                   "[[station]]\nname = \"Модем-Речная\"\nport = \"COM32\"\n"
                                   "[[station]]\nname = \"Далёкая\"\nport = \"tcp 127.0.0.1 9\"\naddress = 200\n")
                               .arg(nodePort);
            for (int i = 0; i < 30; ++i) text += QString("[[station]]\nname = \"П%1\"\nport = \"tcp 10.2.0.%1 4001\"\n").arg(i);
            QFile f(rosterPath);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(text.toUtf8());
        };
        writeRoster(QString("tcp 127.0.0.1 %1").arg(m_sim->tcpPort()));

        // The store as a collector left it: clock offsets with gaps, a reason
        // of 5 MB, and beside it a change record with a line of 10 MB.
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open((m_dir.path() + "/field.db").toUtf8().constData(), &db), SQLITE_OK);
        const QByteArray huge(5 << 20, 'x');
        sqlite3_exec(db, zrv::fleet::kCreateSchemaTable, nullptr, nullptr, nullptr);
        for (std::size_t v = 0; v < zrv::fleet::schemaSteps().size(); ++v) {
            for (const std::string& sql : zrv::fleet::schemaSteps()[v])
                QCOMPARE(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_exec(db, ("INSERT INTO zrv_schema VALUES (" + std::to_string(v + 1) + ")").c_str(), nullptr, nullptr, nullptr);
        }
        sqlite3_exec(db,
                     "INSERT INTO calls (call_id, station, started_utc, attempt, outcome, why, device_number, clock_offset_s, "
                     "setpoint_differences, records_read) VALUES "
                     "('0', 'П0', '2026-12-01T10:00:00Z', 1, 'ok', NULL, 127, 5, 0, 1),"
                     "('1', 'П1', '2026-12-01T10:00:00Z', 1, 'ok', NULL, 127, NULL, 0, 1),"
                     "('2', 'П2', '2026-12-01T10:00:00Z', 1, 'ok', NULL, 127, -10, 0, 1),"
                     "('3', 'П3', '2026-12-01T10:00:00Z', 1, 'ok', NULL, 127, 3, 0, 1),"
                     "('4', 'П4', 'вчера', 1, 'no-device', NULL, 127, NULL, 0, 1);",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "UPDATE calls SET why = ? WHERE station = 'П4'", -1, &st, nullptr);
        sqlite3_bind_text(st, 1, huge.constData(), int(huge.size()), SQLITE_STATIC);
        QCOMPARE(sqlite3_step(st), SQLITE_DONE);
        sqlite3_finalize(st);
        QFile changes(m_dir.path() + "/changes.jsonl");
        QVERIFY(changes.open(QIODevice::Append));
        changes.write("{\"what\":\"clock\",\"port\":\"COM5\",\"before\":\"" + QByteArray(10 << 20, 'y') + "\"}\n");
        changes.close();

        const int operatorsOwn = entries();  // COM32, and the simulator's COM1
        t().main->StationsF->trigger();
        stations()->chooseFile = [&] { return rosterPath; };
        QTest::mouseClick(stations()->OpenRoster, Qt::LeftButton);
        QTRY_VERIFY2(stations()->StoreState->text().startsWith("Последние вызовы: "), qPrintable(stations()->StoreState->text()));
        // A cell holds a line of the reason, not megabytes; a time that is
        // no time is unknown.
        QVERIFY(cell("П4", TStations::Outcome).size() <= 260);
        QVERIFY(cell("П4", TStations::Outcome).endsWith(QStringLiteral("…")));
        QCOMPARE(cell("П4", TStations::LastCall), QString("неизвестно"));
        // Empty first, then by value.
        stations()->Table->sortByColumn(TStations::ClockOffset, Qt::AscendingOrder);
        QStringList offsets;
        for (const QString& v : column(stations()->Table, TStations::ClockOffset, false))
            if (!v.isEmpty() || offsets.size() < 2) offsets << v;
        QCOMPARE(offsets.mid(0, 2), (QStringList{"", ""}));
        QCOMPARE(column(stations()->Table, TStations::ClockOffset, false).filter(QRegularExpression("\\d")),
                 (QStringList{"-10", "+3", "+5"}));

        // Узел gets an entry of its own, never the roster's COM32; Модем-
        // Речная then connects to its own regulator behind COM32.
        QVERIFY(stations()->chooseRow(stations()->rowOf("Узел")));
        const QString nodeCom = t().select->NameCOM->currentText();
        QVERIFY2(nodeCom != "COM32", qPrintable(stations()->ChoiceState->text()));
        QVERIFY(stations()->chooseRow(stations()->rowOf("Модем-Речная")));
        QCOMPARE(t().select->NameCOM->currentText(), QString("COM32"));
        connectDevice();
        QCOMPARE(zrv::journal::reportDeviceNumber(session().image()), 360u);
        t().endConnection();
        settle();

        // Thirty device servers chosen in turn, and one refused (address
        // 200): no more entries than the operator's and the one in use.
        for (int i = 0; i < 30; ++i) QVERIFY(stations()->chooseRow(stations()->rowOf(QString("П%1").arg(i))));
        QCOMPARE(entries(), operatorsOwn + 1);
        QVERIFY(!stations()->chooseRow(stations()->rowOf("Далёкая")));
        QCOMPARE(entries(), operatorsOwn);

        // The roster edited on disk: "Обновить" takes the new port; made
        // faulty, the last good one stays and the window says where.
        writeRoster(QString("tcp 127.0.0.1 %1").arg(river.tcpPort()));
        QTest::mouseClick(stations()->Refresh, Qt::LeftButton);
        QTRY_COMPARE(cell("Узел", TStations::Port), QString("tcp 127.0.0.1 %1").arg(river.tcpPort()));
        QFile broken(rosterPath);
        QVERIFY(broken.open(QIODevice::Append));
        broken.write("[[station]]\nname = \"Узел\"\nport = \"COM1\"\n");
        broken.close();
        QSignalSpy refreshed(stations(), &TStations::refreshed);
        QTest::mouseClick(stations()->Refresh, Qt::LeftButton);
        QVERIFY(refreshed.wait(10000));
        QVERIFY2(stations()->StoreState->text().contains("field.toml:") &&
                     stations()->StoreState->text().contains("последний прочитанный"),
                 qPrintable(stations()->StoreState->text()));
        QCOMPARE(cell("Узел", TStations::Port), QString("tcp 127.0.0.1 %1").arg(river.tcpPort()));

        // The collector holds the store for 2 s: the last values stay, and
        // the window says the store was busy.
        QCOMPARE(sqlite3_exec(db, "BEGIN EXCLUSIVE; UPDATE calls SET outcome = 'ok';", nullptr, nullptr, nullptr), SQLITE_OK);
        QTest::mouseClick(stations()->Refresh, Qt::LeftButton);
        QVERIFY(refreshed.wait(10000));
        QTest::qWait(1500);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QVERIFY2(stations()->StoreState->text().contains("занято сборщиком"), qPrintable(stations()->StoreState->text()));
        QCOMPARE(cell("П2", TStations::ClockOffset), QString("-10"));

        // The change line of 10 MB was set aside as damaged.
        t().main->ChangeLogF->trigger();
        QTRY_VERIFY2(t().changeLog->Summary->text().contains("непонятных строк пропущено"),
                     qPrintable(t().changeLog->Summary->text()));
        QVERIFY(!column(t().changeLog->Table, 2, false).contains("COM5"));
        QVERIFY(column(t().changeLog->Table, 2, false).contains("COM32"));
    }

    // The control room's view: what needs a visit in a column and a filter,
    // and a station's history drawn from its journal and calls; first from
    // an SQLite file, then from PostgreSQL through a role that may only read.
    void findingsAndHistoryFromSqliteThenFromPostgresThroughAReadOnlyRole()
    {
        createTerminal();
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open((m_dir.path() + "/room.db").toUtf8().constData(), &db), SQLITE_OK);
        for (const QString& statement : controlRoomStore())
            QVERIFY2(sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK, sqlite3_errmsg(db));
        sqlite3_close(db);
        const QString rosterPath = m_dir.path() + "/room.toml";
        const auto writeRoster = [&](const QString& store) {
            QFile f(rosterPath);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(QString("[defaults]\nstores = [\"%1\"]\n[[station]]\nname = \"Север\"\nport = \"tcp 127.0.0.1 9\"\n"
                            "[[station]]\nname = \"Юг\"\nport = \"tcp 127.0.0.1 9\"\naddress = 2\n")
                        .arg(store)
                        .toUtf8());
        };
        writeRoster("sqlite:room.db");
        t().main->StationsF->trigger();
        stations()->chooseFile = [&] { return rosterPath; };
        QTest::mouseClick(stations()->OpenRoster, Qt::LeftButton);
        QTRY_VERIFY2(stations()->StoreState->text().startsWith("Последние вызовы: "), qPrintable(stations()->StoreState->text()));
        const auto findingsShown = [&] {
            QCOMPARE(cell("Север", TStations::Findings), QStringLiteral("батарея разряжена; часы уходят"));
            const QTableWidgetItem* c = stations()->Table->item(stations()->rowOf("Север"), TStations::Findings);
            QVERIFY(c->toolTip().contains(QStringLiteral("критично: батарея 3.10 В, порог 3.20 В")));
            QCOMPARE(c->foreground().color(), QColor(Qt::darkRed));
            QCOMPARE(cell("Юг", TStations::Findings), QString());  // its finding was cleared
            QVERIFY(!stations()->AttentionOnly->isChecked());
            stations()->FindingsOnly->setChecked(true);
            QCOMPARE(column(stations()->Table, TStations::Name, true), QStringList{"Север"});
            stations()->FindingsOnly->setChecked(false);
            QCOMPARE(column(stations()->Table, TStations::Name, true), (QStringList{"Север", "Юг"}));
            // The damaged last call: no clock shown, nothing broken.
            QCOMPARE(cell("Север", TStations::ClockOffset), QString());
        };
        findingsShown();

        TStationHistory* h = nullptr;
        const auto historyDrawn = [&](const QString& said) {
            QVERIFY2(said.contains(QStringLiteral("Север за 30 дней: записей журнала 480, вызовов 6")), qPrintable(said));
            h = stations()->history();
            QVERIFY(h->isVisible());
            QCOMPARE(h->windowTitle(), QStringLiteral("История станции: Север"));
            // The journal's own extremes are drawn, the record with no P2 is
            // not, and the limits run across the span.
            QCOMPARE(range(h->P2), (std::pair<double, double>{2.0, 6.2}));
            QCOMPARE(range(h->P1), (std::pair<double, double>{6.0, 6.09}));
            QCOMPARE(range(h->P2Max), (std::pair<double, double>{5.0, 5.0}));
            QCOMPARE(range(h->P1Min), (std::pair<double, double>{1.0, 1.0}));
            // The battery of -5 V is no point; the five readings are.
            QCOMPARE(h->Vbat->count(), 5);
            QCOMPARE(range(h->Vbat), (std::pair<double, double>{3.1, 3.45}));
            QCOMPARE(h->ClockOffset->count(), 5);
            QVERIFY(h->P2->count() <= 2 * std::max(100, int(h->Pressures->chart()->plotArea().width())));
        };
        stations()->Table->setCurrentCell(stations()->rowOf("Север"), TStations::Name);
        historyDrawn(drawHistory(stations()->rowOf("Север")));
        // A week holds the last 7 days' records only.
        QSignalSpy redrawn(h, &TStationHistory::drawn);
        h->Span->setCurrentIndex(0);
        QVERIFY(redrawn.wait(20000));
        QVERIFY2(h->State->text().contains(QRegularExpression(QStringLiteral("за 7 дней: записей журнала 1[67]\\d, вызовов 3"))),
                 qPrintable(h->State->text()));
        h->Span->setCurrentIndex(1);
        QVERIFY(redrawn.wait(20000));

        // The same store in PostgreSQL, read by a role that may only read.
        PgServer pg;
        QString why;
        QVERIFY2(pg.start(&why), qPrintable(why));
        QVERIFY2(pg.sql(controlRoomStore().join(";\n"), &why), qPrintable(why));
        QVERIFY2(pg.sql("CREATE ROLE dispatcher LOGIN; GRANT SELECT ON ALL TABLES IN SCHEMA public TO dispatcher", &why),
                 qPrintable(why));
        writeRoster(QString("postgresql://dispatcher@127.0.0.1:%1/zrv").arg(pg.port()));
        QSignalSpy refreshed(stations(), &TStations::refreshed);
        QTest::mouseClick(stations()->Refresh, Qt::LeftButton);
        QVERIFY(refreshed.wait(20000));
        QVERIFY2(stations()->StoreState->text().startsWith(
                     QString("Последние вызовы: postgresql://dispatcher@127.0.0.1:%1/zrv").arg(pg.port())),
                 qPrintable(stations()->StoreState->text()));
        findingsShown();
        historyDrawn(drawHistory(stations()->rowOf("Север")));
        // A reader's session writes nothing even where its role could, and
        // a server's refusal is said in words.
        std::string reason;
        const auto owner = zrv::fleet::openStoreForReading(
            QString("postgresql://postgres@127.0.0.1:%1/zrv").arg(pg.port()).toStdString(), &reason);
        QVERIFY2(owner, reason.c_str());
        const auto none = [](const zrv::fleet::StoreRow&) {};
        QVERIFY(!owner->select("DELETE FROM calls", {}, none, &reason));
        QVERIFY2(reason.find("read-only") != std::string::npos, reason.c_str());
        std::vector<std::string> names;
        QVERIFY2(owner->select("SELECT station FROM calls WHERE station = ? LIMIT 1", {"Север"},
                               [&](const zrv::fleet::StoreRow& r) { names.push_back(r.at(0).value_or("")); }, &reason),
                 reason.c_str());
        QCOMPARE(names, std::vector<std::string>{"Север"});
        QVERIFY(!owner->select("SELECT nothing FROM calls", {}, none, &reason));
        QVERIFY2(reason.find("не хранилище zrvcollect") != std::string::npos, reason.c_str());

        // The server gone: the window says why, and the roster's rows stay.
        pg.stop();
        QTest::mouseClick(stations()->Refresh, Qt::LeftButton);
        QVERIFY(refreshed.wait(20000));
        QVERIFY2(stations()->StoreState->text().contains(QStringLiteral("нет соединения с PostgreSQL")),
                 qPrintable(stations()->StoreState->text()));
        QVERIFY2(drawHistory(stations()->rowOf("Север")).startsWith(QStringLiteral("История не прочитана: ")),
                 qPrintable(h->State->text()));
    }

    void aFaultyRosterChangesNothingAndSaysWhere()
    {
        const std::string error = startSim();
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
        t().main->StationsF->trigger();
        const int rows = stations()->Table->rowCount();
        QFile bad(m_dir.path() + "/bad.toml");
        QVERIFY(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
        bad.write("[[station]]\nname = \"X\"\nport = \"tcp nowhere\"\n");
        bad.close();
        QVERIFY(!stations()->openRoster(bad.fileName()));
        QCOMPARE(stations()->Table->rowCount(), rows);
        QVERIFY2(stations()->StoreState->text().contains("bad.toml:3"), qPrintable(stations()->StoreState->text()));
    }
};

QTEST_MAIN(TestStations)
#include "tst_stations.moc"
