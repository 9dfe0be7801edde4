// Reading the simulated device's journal into the viewer, stopping it, and
// saving and reopening reports.

#include "SimServer.h"
#include "clock/ui/Time_form.h"
#include "connection/ui/Select_form.h"
#include "journal/JournalReading.h"
#include "journal/ReportBuilder.h"
#include "journal/ui/Log_form.h"
#include "journal/ui/Logprocessform.h"
#include "link/ModbusTransact.h"
#include "link/PortMap.h"
#include "link/PosixSerialLine.h"
#include "monitor/ui/Front_panel_form.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"
#include "support/SimulatedTerminal.h"
#include "text/Cp1251.h"
#include "windowbase/MessageBox.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class TestJournal : public SimulatedTerminal {
    Q_OBJECT

private:
    TMain* main() { return t().main; }
    TLogView* view() { return t().logView; }

    void startDevice(int records)
    {
        zrvsim::SimOptions o;
        o.journalRecords = records;
        o.seed = 7;
        const std::string error = startSim(o);
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
        connectDevice();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
    }
    bool reading() { return stateName(session().state()) == QLatin1String("ReadingJournal"); }
    // Until the reader has ended and all it said has reached the windows.
    bool waitForTheReading(int ms)
    {
        if (!QTest::qWaitFor([this] { return zrv::SessionProbe::idle(session()) && !reading(); }, ms)) return false;
        settle();
        return true;
    }
    int requestsFor(int function, int start, int count)
    {
        int n = 0;
        for (const auto& r : m_sim->requests())
            n += r.frame[1] == function && ((r.frame[2] << 8) | r.frame[3]) == start &&
                 ((r.frame[4] << 8) | r.frame[5]) == count;
        return n;
    }
    QByteArray fileBytes(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The device's newest `count` records as report pieces, decoded from the
    // simulator's own ring.
    QStringList deviceRecordPieces(int count)
    {
        QStringList pieces;
        m_sim->withDevice([&](zrvsim::DeviceModel& d, auto&) {
            zrv::RegisterImage ring;
            for (uint32_t a = 0; a < 65536; ++a) ring.setInput(uint16_t(a), d.inputs[a]);
            zrv::journal::ReportBuilder b;
            b.header(ring, 1);
            zrv::journal::JournalHooks h;
            h.readInputs = [](uint16_t, uint16_t) { return true; };
            h.stopRequested = [&pieces, count] { return pieces.size() >= count; };
            h.showProgress = [](uint16_t, int32_t) {};
            h.append = [&pieces](const std::string& p) { pieces << QString::fromStdString(p + "\r\n"); };
            const uint16_t end = d.inputs[27];
            zrv::journal::readRecords(end, d.inputs[end], ring, b, h);
            return 0;
        });
        return pieces;
    }
    // The device's own date, as the header shows it.
    QString deviceDate()
    {
        return m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) {
            d.advance(zrvsim::Clock::now());
            return QString::asprintf("%02d.%02d.%04d", d.inputs[23], d.inputs[24], 2000 + d.inputs[25]);
        });
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init() { m_messages.clear(); }
    void cleanup() { shutDown(); }

    void readsAPreloadedJournalSavesAndReopensIt()
    {
        startDevice(300);
        main()->N4->trigger();
        QVERIFY(reading());
        QVERIFY(t().logProgress->isVisible());
        QVERIFY(!view()->isMinimized());
        QVERIFY(!t().select->Disconnect->isEnabled());
        QVERIFY(!main()->Timer1->isActive());
        QVERIFY(waitForTheReading(60000));
        QVERIFY(!t().logProgress->isVisible());
        QVERIFY(main()->Timer1->isActive());
        QVERIFY(t().select->Disconnect->isEnabled());
        QVERIFY(view()->StatusBar1->text().startsWith(QStringLiteral("Загружено 300 записей в период c 01.11.2026 по ")));
        QVERIFY(view()->StatusBar1->text().endsWith(deviceDate()));
        QCOMPARE(t().logProgress->ReadCount->text(), QStringLiteral("299"));

        // What the viewer shows is what the device holds: decode the
        // simulator's own ring the same way and compare the record pieces.
        const QStringList shown = view()->lines();
        std::string expected;
        m_sim->withDevice([&](zrvsim::DeviceModel& d, auto&) {
            zrv::RegisterImage ring;
            for (uint32_t a = 0; a < 65536; ++a) ring.setInput(uint16_t(a), d.inputs[a]);
            zrv::journal::ReportBuilder b;
            ring.setInput(20, 0);  // any valid base: only the record pieces are compared
            ring.setInput(23, 1);
            ring.setInput(24, 1);
            b.header(ring, 1);
            zrv::journal::JournalHooks h;
            h.readInputs = [](uint16_t, uint16_t) { return true; };
            h.stopRequested = [] { return false; };
            h.showProgress = [](uint16_t, int32_t) {};
            h.append = [&expected](const std::string& p) { expected += p + "\r\n"; };
            const uint16_t end = d.inputs[27];
            zrv::journal::readRecords(end, d.inputs[end], ring, b, h);
            return 0;
        });
        const QString viewerText = shown.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
        const QString records = QString::fromStdString(expected);
        // The first record's entries sit on the device clock, so compare from
        // its stamp line on.
        const int firstStamp = records.indexOf(QStringLiteral("  P1="));
        QVERIFY(firstStamp > 0);
        QVERIFY(viewerText.contains(records.mid(firstStamp)));
        QVERIFY(shown.at(0).endsWith(QStringLiteral("     ZRV-127")));  // the header comes first
        QCOMPARE(shown.at(1), QStringLiteral("MODBUS Address: 1"));

        // Save as, then open again.
        const QString path = m_dir.path() + "/report.log";
        view()->chooseFile = [path](bool) { return path; };
        view()->FileSaveAs1->trigger();
        QCOMPARE(view()->StatusBar1->text(), path);
        QCOMPARE(QString::fromStdString(view()->journalFileName()), path);
        const QByteArray bytes = fileBytes(path);
        QCOMPARE(bytes, QByteArray::fromStdString(zrv::text::utf8ToCp1251(viewerText.toStdString())));
        QVERIFY(bytes.contains("\r\n\r\n"));
        QVERIFY(!bytes.contains("\xD0\x97"));  // no UTF-8 in the file
        view()->Log->clear();
        view()->FileOpen1->trigger();
        QCOMPARE(view()->lines(), shown);
    }

    void newRecordsAfterASavedReportThenTheTable()
    {
        startDevice(60);
        main()->N4->trigger();
        QVERIFY(waitForTheReading(60000));
        const QString path = m_dir.path() + "/full.log";
        view()->chooseFile = [path](bool) { return path; };
        view()->FileSaveAs1->trigger();
        QVERIFY(m_messages.isEmpty());

        // The viewer moves on to another file: the saved report's records
        // are still known, by the device number.
        const QString other = m_dir.path() + "/other.log";
        QFile f(other);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x\r\n");
        f.close();
        view()->chooseFile = [other](bool) { return other; };
        view()->FileOpen1->trigger();
        QVERIFY(!view()->knownRecords(127).empty());
        QVERIFY(view()->knownRecords(128).empty());

        device([](zrvsim::DeviceModel& d, auto&) {
            for (int i = 0; i < 10; ++i) {
                zrvsim::JournalStamp s = d.stampNow();
                s.min = i;
                s.p1 = 40.0f + float(i);
                d.appendRecord(s, {{5, 0x0000, 1, 0}, {9, 0xC000, 0, 0x3FC0}});
            }
        });
        m_sim->clearRequests();
        QVERIFY(main()->NewRecordsF->isEnabled());
        main()->NewRecordsF->trigger();
        QVERIFY(reading());
        QVERIFY(waitForTheReading(60000));
        const QString summary = view()->StatusBar1->text();
        QVERIFY2(summary.startsWith(QStringLiteral("Загружено 10 записей в период c ")), qPrintable(summary));
        QVERIFY2(summary.endsWith(QStringLiteral(" (только новые записи)")), qPrintable(summary));
        const QStringList shown = view()->lines();
        QVERIFY(shown.at(0).endsWith(QStringLiteral("     ZRV-127")));
        QCOMPARE(shown.filter(QStringLiteral("  P1=")).size(), 10);
        QVERIFY(shown.filter(QStringLiteral("  P1=")).first().contains(QStringLiteral("P1=49.00")));
        // In the ring: the newest record's start (one register, as for every
        // reading), then ten records of one request each and the head of the
        // one held.
        int ring = 0;
        for (const auto& r : m_sim->requests()) ring += r.frame[1] == 4 && ((r.frame[2] << 8) | r.frame[3]) >= 512;
        QCOMPARE(ring, 1 + 11);

        // The same report as a table: a row per entry, the record's time.
        const QString csv = m_dir.path() + "/new.csv";
        view()->chooseFile = [csv](bool) { return csv; };
        view()->FileSaveAs1->trigger();
        QCOMPARE(QString::fromStdString(view()->journalFileName()), other);  // the .log stays remembered
        const QByteArray table = fileBytes(csv);
        QVERIFY(table.startsWith("\xEF\xBB\xBF"));
        const QStringList rows = QString::fromUtf8(table.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + 20);
        QCOMPARE(rows[0], QStringLiteral("Время записи;Время события;Параметр;Регистр;Значение"));
        QVERIFY2(rows[1].endsWith(QStringLiteral(";P1;Input 0;1,5")), qPrintable(rows[1]));
        QVERIFY2(rows[2].endsWith(QStringLiteral(";Mode;Holding 0;1")), qPrintable(rows[2]));
    }

    void stopMidReadingGivesTheControlsBackAndASummary()
    {
        startDevice(300);
        main()->N4->trigger();
        QVERIFY(QTest::qWaitFor([this] { return t().logProgress->ReadCount->text().toInt() >= 3; }, 20000));
        t().logProgress->BitBtn1Click();
        QVERIFY(t().select->Disconnect->isEnabled());
        QVERIFY(!t().logProgress->isVisible());
        QVERIFY(waitForTheReading(10000));
        const QString summary = view()->StatusBar1->text();
        QVERIFY2(summary.startsWith(QStringLiteral("Загружен")), qPrintable(summary));
        const int n = summary.section(' ', 1, 1).toInt();
        QVERIFY(n >= 3 && n < 300);
        QVERIFY(main()->Timer1->isActive());
    }

    void stopThenDisconnectAtOnceLeavesTheLineClean()
    {
        startDevice(300);
        main()->N4->trigger();
        QVERIFY(QTest::qWaitFor([this] { return t().logProgress->ReadCount->text().toInt() >= 2; }, 20000));
        // "Остановить", then Stop at once: the reader may still be in the
        // middle of a request.
        t().logProgress->BitBtn1->click();
        QVERIFY(t().select->Disconnect->isEnabled());
        QTest::mouseClick(t().select->Disconnect, Qt::LeftButton);
        settle();
        QVERIFY(!zrv::SessionProbe::portOpen(session()));
        const auto seen = m_sim->requests();
        const auto bytes = m_sim->lineBytes();
        QTest::qWait(700);  // longer than a reply time-out: nothing more comes
        QCOMPARE(m_sim->requests().size(), seen.size());
        QCOMPARE(m_sim->lineBytes().size(), bytes.size());
        // The disconnection's coil write is the last frame on the line.
        QVERIFY(seen.size() >= 2);
        QCOMPARE(zrvsim::Frame(seen.back().frame.begin(), seen.back().frame.begin() + 6),
                 (zrvsim::Frame{1, 5, 0, 15, 0, 0}));
        // Every byte the terminal sent belongs to exactly one whole request,
        // and each request began only after the one before had ended.
        std::size_t total = 0;
        for (const auto& r : seen) total += r.frame.size();
        QCOMPARE(bytes.size(), total);
        for (std::size_t i = 1; i < seen.size(); ++i)
            QVERIFY(seen[i].at >= seen[i - 1].at + zrvsim::SimServer::kByteTime * long(seen[i - 1].frame.size()));

        // And the terminal connects again.
        connectDevice();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QCOMPARE(stateName(session().state()), QStringLiteral("Monitoring"));
        QCOMPARE(main()->StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-127"));
    }

    void emptyJournalGivesTheHeaderAlone()
    {
        startDevice(0);
        main()->N4->trigger();
        QVERIFY(waitForTheReading(20000));
        QCOMPARE(view()->StatusBar1->text(), QStringLiteral("Загружено 0 записей в период c  по ") + deviceDate());
        const QStringList lines = view()->lines();
        QCOMPARE(lines.size(), 2 + 55 + 1);  // header lines, then the empty line after the piece
        QVERIFY(lines.at(0).endsWith(QStringLiteral("     ZRV-127")));
    }

    void otherCommandsAreRefusedWhileAReadingRuns()
    {
        startDevice(100);
        t().select->ExtControl->click();
        settle();
        t().sets->showNormal();
        m_sim->clearRequests();
        main()->N4->trigger();
        QVERIFY(reading());
        // None of these may reach the line while the reader has it, and none
        // of them is offered.
        QVERIFY(!main()->N8->isEnabled() && !main()->N4->isEnabled());
        QVERIFY(!t().sets->Upload->isEnabled() && !t().frontPanel->Mode->isEnabled());
        main()->N8Click();  // the clock window does not open
        QVERIFY(!t().timeZRV->isVisible());
        main()->N4Click();  // no second reading
        t().sets->UploadClick();
        t().sets->DownloadClick();
        t().frontPanel->Mode->setCurrentIndex(0);
        t().frontPanel->ModeChange(0);
        QVERIFY(waitForTheReading(30000));
        QCOMPARE(requestsFor(4, 27, 1), 1);       // the write position: one reading
        QCOMPARE(requestsFor(4, 20, 6), 0);       // no clock read
        QCOMPARE(requestsFor(3, 0, 114), 1);      // the reader's own refresh, no Upload
        for (const auto& r : m_sim->requests()) QVERIFY(r.frame[1] != 16);  // no mode, no Download
        QVERIFY(m_messages.isEmpty());
    }

    void exitDuringAReadingEndsTheConnectionAndTheProgram()
    {
        QFile::remove(QStringLiteral("zrvterm.ini"));
        startDevice(300);
        t().select->ExtControl->click();
        settle();
        main()->N4->trigger();
        QVERIFY(QTest::qWaitFor([this] { return t().logProgress->ReadCount->text().toInt() >= 1; }, 20000));
        // "Выход" with the progress window still up: the program ends all
        // the same, the reader stops, and the connection ends as Stop ends it.
        QCOMPARE(closeTheProgram([this] { main()->N2->trigger(); }), 0);
        QVERIFY(QFile::exists(QStringLiteral("zrvterm.ini")));
        QVERIFY(lastRequestIsStop());
        const std::size_t after = m_sim->requests().size();
        // The port is free for the next program at once.
        std::string why;
        QVERIFY2(zrv::PosixSerialLine::open(zrv::resolvePortName("COM1"), &why), why.c_str());
        QTest::qWait(1200);  // longer than a polling period and any reply time-out
        QCOMPARE(m_sim->requests().size(), after);
    }

    void aDeviceFallingSilentMidReadingInventsNothing()
    {
        startDevice(300);
        // The reading's own first requests (write position, newest start,
        // four tables) are answered, then 20 records, then nothing.
        constexpr int kAnswered = 2 + 4 + 20;
        const zrv::journal::RecordKeys knownBefore = view()->knownRecords(127);
        const QStringList expected = deviceRecordPieces(20);
        QCOMPARE(expected.size(), 20);
        device([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) { s.faults.silentFromRequest = s.requestsSeen + kAnswered + 1; });
        main()->N4->trigger();
        QVERIFY(waitForTheReading(20000));
        const QString summary = view()->StatusBar1->text();
        QVERIFY2(summary.startsWith(QStringLiteral("Загружено 20 записей в период c ")), qPrintable(summary));
        QVERIFY2(summary.endsWith(QStringLiteral(" (чтение прервано: нет ответа)")), qPrintable(summary));
        QCOMPARE(m_messages, QStringList{QStringLiteral("Ошибка: Журнал не удалось считать до конца (нет ответа). "
                                                        "В отчёте только записи, считанные полностью.")});
        // Exactly the device's own 20 newest records, nothing after them.
        const QString shown = view()->lines().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
        QVERIFY(shown.contains(expected.mid(1).join(QString())));
        QCOMPARE(view()->lines().filter(QStringLiteral("  P1=")).size(), 20);
        QVERIFY(!shown.contains(QStringLiteral("No Date")));
        // The cut report marks no place to read new records from.
        QVERIFY(view()->knownRecords(127) == knownBefore);
    }

    void viewerFiles()
    {
        createTerminal();
        const QString path = m_dir.path() + "/v.log";
        view()->appendPiece(QStringLiteral("Первая\r\nвторая\r\n"));
        view()->appendPiece(QStringLiteral("третья\r\n"));
        view()->chooseFile = [path](bool) { return path; };
        view()->FileSaveAs1->trigger();
        const QByteArray saved = fileBytes(path);
        QCOMPARE(saved, QByteArray("\xCF\xE5\xF0\xE2\xE0\xFF\r\n\xE2\xF2\xEE\xF0\xE0\xFF\r\n\r\n\xF2\xF0\xE5\xF2\xFC\xFF\r\n\r\n"));

        // A save that cannot be made reports it and leaves the old file whole.
        QDir().mkpath(path + ".tmp");
        view()->appendPiece(QStringLiteral("x"));
        view()->FileSaveAs1->trigger();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages[0].startsWith(QStringLiteral("Ошибка: Не удалось сохранить журнал")));
        QCOMPARE(fileBytes(path), saved);
        m_messages.clear();

        // Not a report at all: shown as far as it goes, no crash.
        const QString binary = m_dir.path() + "/binary.log";
        QFile b(binary);
        QVERIFY(b.open(QIODevice::WriteOnly));
        QByteArray junk;
        for (int i = 0; i < 4096; ++i) junk += char(i * 37 + 11);
        b.write(junk);
        b.close();
        view()->chooseFile = [binary](bool) { return binary; };
        view()->FileOpen1->trigger();
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!view()->lines().isEmpty());

        // Far too large: refused with a message.
        const QString huge = m_dir.path() + "/huge.log";
        QFile h(huge);
        QVERIFY(h.open(QIODevice::WriteOnly));
        QVERIFY(h.resize(qint64(80) << 20));
        h.close();
        view()->chooseFile = [huge](bool) { return huge; };
        view()->FileOpen1->trigger();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages[0].contains(QStringLiteral("файл слишком велик")));
    }

    void openDialogTitleAndFilter()
    {
        createTerminal();
        QString title;
        QStringList filters;
        QTimer::singleShot(200, this, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                title = d->windowTitle();
                filters = d->nameFilters();
                d->reject();
            }
        });
        view()->FileOpen1->trigger();
        QCOMPARE(title, QStringLiteral("Открыть файл журнала..."));
        QCOMPARE(filters, QStringList{QStringLiteral("LOG File (*.log)")});
    }

};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
