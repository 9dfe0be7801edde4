// The fleet in the terminal: the collector's roster and what its store says
// of each station's last call, a station chosen into "Выбор устройства" and
// connected, its profile offered, and the record of changes read back.

#include "SimServer.h"
#include "connection/ui/Select_form.h"
#include "modem/ui/Modem.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "stations/ui/Stations_form.h"
#include "support/AccessibilityAudit.h"
#include "support/LoopbackPort.h"
#include "support/SimulatedTerminal.h"

#include <QAccessibleTableInterface>
#include <QProcess>
#include <QtTest>

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
        QCOMPARE(session().state(), zrv::LinkState::Disconnected);
        QVERIFY2(stations()->ChoiceState->text().contains(com), qPrintable(stations()->ChoiceState->text()));

        // Connect: the device answers, and its profile is offered first.
        connectDevice();
        QCOMPARE(session().state(), zrv::LinkState::Monitoring);
        QCOMPARE(t().sets->offeredSetpointFile(), m_dir.path() + "/grp1.zrvset");
        // Choosing again while connected is refused, with the way out said.
        QVERIFY(!stations()->chooseRow(stations()->rowOf("ГРП-3 Речная")));
        QVERIFY(stations()->ChoiceState->text().contains("Stop"));

        // A write shows among the station's last changes and in the record.
        stations()->Table->setCurrentCell(stations()->rowOf("ГРП-1 Лесная"), 0);
        session().setExternalControl(true);
        settle();
        const int modeBefore = image().holding(0);
        session().setMode(modeBefore == 1 ? 2 : 1);
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
