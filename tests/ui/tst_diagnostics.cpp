// The traffic monitor and the trend window against the simulated device:
// the rows of a connection in order with their bytes, the device's faults in
// words, the filter, pause and save; samples drawn, zoomed, panned, saved.

#include "diagnostics/ui/Traffic_form.h"
#include "diagnostics/ui/Trends_form.h"
#include "shell/Main_form.h"
#include "support/SimulatedTerminal.h"

#include <QFile>
#include <QMenuBar>
#include <QtTest>

class TestDiagnostics : public SimulatedTerminal {
    Q_OBJECT

private:
    TTrafficMonitor* monitor() { return t().traffic; }
    TTrends* trends() { return t().trends; }
    QString cell(int row, int column)
    {
        QAbstractItemModel* m = monitor()->Table->model();
        return m->data(m->index(row, column)).toString();
    }
    static QString hex(const zrvsim::Frame& f)
    {
        QStringList out;
        for (uint8_t b : f) out << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        return out.join(QLatin1Char(' '));
    }
    QStringList menuItems(const QString& menu)
    {
        for (QAction* a : t().main->menuBar()->actions())
            if (a->text() == menu) {
                QStringList out;
                for (QAction* item : a->menu()->actions()) out << item->text();
                return out;
            }
        return {};
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        const std::string error = startSim();
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
    }
    void cleanup() { shutDown(); }

    void theNewItemsFollowTheTerminalsOwn()
    {
        QCOMPARE(menuItems(QStringLiteral("Вид")),
                 (QStringList{"Выбор устройства", "Измерения", "Управление", "Уставки", "Журнал", "Монитор обмена",
                              "Графики", "Станции"}));
        QCOMPARE(menuItems(QStringLiteral("Функции")),
                 (QStringList{"Установить Время", "Считать Журнал", "Считать новые записи", "Быстрый обмен"}));
        QVERIFY(!monitor()->isVisible());
        t().main->TrafficF->trigger();
        QVERIFY(monitor()->isVisible());
        QCOMPARE(monitor()->windowTitle(), QStringLiteral("Монитор обмена"));
        monitor()->close();  // the close box hides it, not minimises it
        QVERIFY(!monitor()->isVisible() && !monitor()->isMinimized());
        t().main->Timer2Timer();  // the view tick follows within 200 ms
        QVERIFY(!t().main->TrafficF->isChecked());
        t().main->TrafficF->trigger();
        QVERIFY(monitor()->isVisible());
        t().main->TrafficF->trigger();
        QVERIFY(!monitor()->isVisible());
        t().main->TrendsF->trigger();
        QVERIFY(trends()->isVisible());
        QCOMPARE(trends()->windowTitle(), QStringLiteral("Графики"));
    }

    void theMonitorListsTheConnectionsRequestsInOrder()
    {
        t().main->TrafficF->trigger();
        connectDevice();
        pollStep();
        const auto seen = m_sim->requests();
        const int rows = monitor()->shownRows();
        QCOMPARE(rows, int(seen.size()));
        QVERIFY(rows >= 10);
        for (int i = 0; i < rows; ++i) {
            QCOMPARE(cell(i, 4), hex(seen[std::size_t(i)].frame));
            QCOMPARE(cell(i, 6), QStringLiteral("OK"));
            QCOMPARE(cell(i, 1), QStringLiteral("1"));
        }
        // Detection first: holding register 0, one register.
        QCOMPARE(cell(0, 2), QStringLiteral("3"));
        QCOMPARE(cell(0, 3), QStringLiteral("нач. 0, кол. 1"));
        QCOMPARE(cell(0, 4), QStringLiteral("01 03 00 00 00 01 84 0A"));
        QVERIFY(cell(0, 5).startsWith(QStringLiteral("01 03 02 ")));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$")).match(cell(0, 0)).hasMatch());
        QCOMPARE(monitor()->Counts->text(), QStringLiteral("OK: %1").arg(rows));
    }

    void faultsReadInWordsAndTheFilterPauseAndSaveWork()
    {
        t().main->TrafficF->trigger();
        connectDevice();
        const int before = monitor()->shownRows();
        device([](auto&, zrvsim::ModbusSlave& s) { s.faults.corruptCrc = true; });
        pollStep();
        device([](auto&, zrvsim::ModbusSlave& s) {
            s.faults.corruptCrc = false;
            s.faults.silent = true;
        });
        pollStep();
        const int all = monitor()->shownRows();
        QCOMPARE(all, before + 10);
        for (int i = before; i < before + 5; ++i) QCOMPARE(cell(i, 6), QStringLiteral("ошибка CRC"));
        for (int i = before + 5; i < all; ++i) {
            QCOMPARE(cell(i, 6), QStringLiteral("нет ответа"));
            QCOMPARE(cell(i, 5), QString());
        }
        QVERIFY2(monitor()->Counts->text().contains(QStringLiteral("нет ответа: 5   ошибка CRC: 5")),
                 qPrintable(monitor()->Counts->text()));

        monitor()->ErrorsOnly->setChecked(true);
        QCOMPARE(monitor()->shownRows(), 10);
        QCOMPARE(cell(0, 6), QStringLiteral("ошибка CRC"));

        // Paused, the rows wait; on resume they come in, none lost.
        monitor()->Pause->setChecked(true);
        pollStep();
        QCOMPARE(monitor()->shownRows(), 10);
        QVERIFY(monitor()->Counts->text().contains(QStringLiteral("ждут паузы: 5")));
        monitor()->Pause->setChecked(false);
        QCOMPARE(monitor()->shownRows(), 15);

        const QString path = m_dir.path() + "/traffic.txt";
        monitor()->chooseFile = [path] { return path; };
        QTest::mouseClick(monitor()->Save, Qt::LeftButton);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + 15);
        QCOMPARE(lines[0], QStringLiteral("Время\tАдрес\tФункция\tЗапрос\tПередано\tПринято\tИтог\tмс"));
        QVERIFY(lines[1].contains(QStringLiteral("\tошибка CRC\t")));
        QVERIFY(lines[15].contains(QStringLiteral("\tнет ответа\t")));

        monitor()->ErrorsOnly->setChecked(false);
        QTest::mouseClick(monitor()->Clear, Qt::LeftButton);
        QCOMPARE(monitor()->shownRows(), 0);
        QCOMPARE(monitor()->Counts->text(), QStringLiteral("OK: 0"));
    }

    void theMonitorKeepsTheNewestTenThousand()
    {
        zrv::TransactionRecord r;
        r.started = std::chrono::steady_clock::now();
        r.function = 3;
        // Put aside, the monitor only keeps what comes (bounded as the
        // table is); shown, the table holds it.
        monitor()->hide();
        for (int i = 0; i < 10005; ++i) {
            r.start = uint16_t(i);
            monitor()->takeRecord(r);
        }
        QCOMPARE(monitor()->shownRows(), 0);
        monitor()->showNormal();
        QCOMPARE(monitor()->shownRows(), 10000);
        QCOMPARE(cell(0, 3), QStringLiteral("нач. 5, кол. 0"));
        QCOMPARE(cell(9999, 3), QStringLiteral("нач. 10004, кол. 0"));
    }

    void trendsDrawZoomPanAndSave()
    {
        device([](zrvsim::DeviceModel& d, auto&) {
            d.holdMeasurements = true;
            d.setInputFloat(0, 5.5f);
        });
        t().main->TrendsF->trigger();
        connectDevice();
        for (int i = 0; i < 3; ++i) pollStep();
        QVERIFY(trends()->store().size() >= 3);
        trends()->redraw();
        // Three equal values within one pixel column draw as one point.
        QVERIFY(trends()->pointCount(zrv::diagnostics::kP1) >= 1);
        QVERIFY(trends()->pointCount(zrv::diagnostics::kP1) <= 3);
        QVERIFY(trends()->following());
        QCOMPARE(trends()->viewEnd() - trends()->viewStart(), 300.0);  // "5 мин"

        trends()->zoom(0.5, 0.5);
        QVERIFY(!trends()->following());
        QCOMPARE(trends()->viewEnd() - trends()->viewStart(), 150.0);
        const double start = trends()->viewStart();
        trends()->pan(0.1);
        QCOMPARE(trends()->viewStart(), start + 15.0);
        trends()->Span->setCurrentIndex(3);  // "всё": back to following
        QVERIFY(trends()->following());

        const QString csv = m_dir.path() + "/trend.csv";
        const QString png = m_dir.path() + "/trend.png";
        trends()->chooseFile = [csv, png](const QString& suffix) { return suffix == "csv" ? csv : png; };
        QTest::mouseClick(trends()->SaveCsv, Qt::LeftButton);
        QTest::mouseClick(trends()->SavePng, Qt::LeftButton);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QFile c(csv);
        QVERIFY(c.open(QIODevice::ReadOnly));
        const QByteArray head = c.readLine();
        QCOMPARE(head, QByteArray("\xEF\xBB\xBF" "Время;t, с;P1;P2;Tг;Qи;Mq;V\r\n"));
        QVERIFY(c.readLine().contains(";5,5;"));  // the device's P1

        // A day of samples, as a long connection gathers them.
        for (int i = 0; i < 86400; ++i) trends()->addSample(1000.0 + i, {float(i % 100), 1, 2, 3, 4, 5});
        trends()->redraw();
        // Thinned to two points per pixel column at most, but still drawn.
        const int width = int(trends()->Charts[0]->chart()->plotArea().width());
        QVERIFY(trends()->pointCount(zrv::diagnostics::kP1) <= 2 * std::max(16, width) + 2);
        QVERIFY(trends()->pointCount(zrv::diagnostics::kP1) >= 16);

        QFile p(png);
        QVERIFY(p.open(QIODevice::ReadOnly));
        QVERIFY(p.read(8).startsWith("\x89PNG"));

        // A folder that is not there: said, not lost in silence.
        trends()->chooseFile = [this](const QString&) { return m_dir.path() + "/no/such/folder/t.csv"; };
        QTest::mouseClick(trends()->SaveCsv, Qt::LeftButton);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].startsWith(QStringLiteral("Ошибка: Не удалось сохранить файл ")), qPrintable(m_messages[0]));
    }
};

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
