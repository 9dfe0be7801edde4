// The record of every change made to a device: each kind of write the
// terminal sends leaves exactly one line in changes.jsonl, its values those
// that went on the wire; a record that cannot be written is said in a box
// and the device is written all the same.

#include "SimServer.h"
#include "session/Session.h"
#include "journal/ReportBuilder.h"
#include "shell/Terminal.h"
#include "support/SimulatedTerminal.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TestChanges : public SimulatedTerminal {
    Q_OBJECT

private:
    QList<QJsonObject> lines()
    {
        QList<QJsonObject> out;
        QFile f(m_dir.path() + "/changes.jsonl");
        if (!f.open(QIODevice::ReadOnly)) return out;
        for (const QByteArray& l : f.readAll().split('\n'))
            if (!l.isEmpty()) out << QJsonDocument::fromJson(l).object();
        return out;
    }
    template <typename F>
    auto onDevice(F&& f)
    {
        return m_sim->withDevice([&](zrvsim::DeviceModel& d, auto&) { return f(d); });
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        QFile::remove(m_dir.path() + "/changes.jsonl");
        const std::string error = startSim();
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
    }
    void cleanup() { shutDown(); }

    void everyWriteLeavesOneLineWithWhatWentOnTheWire()
    {
        connectDevice();
        const unsigned device = zrv::journal::reportDeviceNumber(session().image());
        session().ask(zrv::ExternalControl{true});
        settle();
        const int coilBefore = onDevice([](zrvsim::DeviceModel& d) { return int(d.coils[2]); });
        session().ask(zrv::ToggleValve{3});
        settle();
        const int coilAfter = onDevice([](zrvsim::DeviceModel& d) { return int(d.coils[2]); });
        session().ask(zrv::Step{true});  // moves the valves too: read coil 3 before it
        const int modeBefore = onDevice([](zrvsim::DeviceModel& d) { return int(d.holdings[0]); });
        session().ask(zrv::SetMode{modeBefore == 1 ? 2 : 1});
        settle();
        QVERIFY(session().setpointEdits().apply(3, -1, 3, "95").kind == zrv::setpoints::EditResult::Stored);  // TPA
        const int tpaBefore = onDevice([](zrvsim::DeviceModel& d) { return int(d.holdings[4]); });
        session().ask(zrv::setpoints::Write{});
        settle();
        session().ask(zrv::clock::Set{{10, 20, 30}, {2026, 12, 8}});
        session().ask(zrv::ExternalControl{false});
        settle();

        const QList<QJsonObject> l = lines();
        QStringList what;
        for (const QJsonObject& o : l) what << o["what"].toString();
        QCOMPARE(what, (QStringList{"external control", "valve 3", "step", "mode", "setpoints", "clock", "external control"}));
        for (const QJsonObject& o : l) {
            QCOMPARE(o["outcome"].toString(), QString("ok"));
            QCOMPARE(o["port"].toString(), QString("COM1"));
            QCOMPARE(o["device"].toInt(), int(device));
            QVERIFY(!o["user"].toString().isEmpty() && o["utc"].toString().endsWith('Z') && !o["local"].toString().isEmpty());
        }
        QCOMPARE(l[1]["before"].toInt(), coilBefore);
        QCOMPARE(l[1]["after"].toInt(), coilAfter);
        QVERIFY(coilAfter != coilBefore);
        QCOMPARE(l[2]["after"].toString(), QString("up"));
        QCOMPARE(l[3]["before"].toInt(), modeBefore);
        QCOMPARE(l[3]["after"].toInt(), onDevice([](zrvsim::DeviceModel& d) { return int(d.holdings[0]); }));
        // The setpoints: each register that changed, as last read and as now held.
        const QJsonObject before = l[4]["before"].toObject(), after = l[4]["after"].toObject();
        QCOMPARE(before["4"].toInt(), tpaBefore);
        QCOMPARE(after["4"].toInt(), 95);
        for (const QString& r : after.keys())
            QCOMPARE(after[r].toInt(), onDevice([&r](zrvsim::DeviceModel& d) { return int(d.holdings[std::size_t(r.toInt())]); }));
        QCOMPARE(l[5]["after"].toString(), QString("2026-12-08T10:20:30"));
        QVERIFY(l[5]["before"].toString().startsWith("20"));
        QCOMPARE(l[6]["after"].toBool(), false);
        QVERIFY(m_messages.isEmpty());

        // The record cannot be written: a box, and the valve moves anyway.
        QVERIFY(QFile::remove(m_dir.path() + "/changes.jsonl"));
        QVERIFY(QDir(m_dir.path()).mkdir("changes.jsonl"));
        session().ask(zrv::ExternalControl{true});
        settle();
        m_sim->clearRequests();
        session().ask(zrv::ToggleValve{3});
        settle();
        bool written = false;  // function 5, coil 2
        for (const auto& r : m_sim->requests()) written = written || (r.frame.size() > 3 && r.frame[1] == 5 && r.frame[3] == 2);
        QVERIFY(written);
        QVERIFY(!m_messages.isEmpty());
        QVERIFY2(m_messages.last().contains(QStringLiteral("Изменение не записано")) &&
                     m_messages.last().contains(QStringLiteral("Команда прибору отправлена")),
                 qPrintable(m_messages.join("; ")));
        QVERIFY(QDir(m_dir.path() + "/changes.jsonl").removeRecursively());
    }
};

QTEST_MAIN(TestChanges)
#include "tst_changes.moc"
