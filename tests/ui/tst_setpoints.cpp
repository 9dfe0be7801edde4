// The setpoints window: tabs and sub-tabs, labels, resize, and the block read
// and write against the simulated device.

#include "SimServer.h"
#include "connection/ui/Select_form.h"
#include "link/ModbusTransact.h"
#include "journal/ReportBuilder.h"
#include "link/ReadAllTables.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"
#include "support/SimulatedTerminal.h"
#include "text/Cp1251.h"
#include "windowbase/MessageBox.h"

#include <QDir>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QTableWidget>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>

class TestSetpoints : public SimulatedTerminal {
    Q_OBJECT

private:
    TSets* sets() { return t().sets; }
    QStringList labels()
    {
        QStringList out;
        for (int r = 0; r < sets()->Table->rowCount(); ++r) out << sets()->Table->item(r, 0)->text();
        return out;
    }
    QString value(int row) { return sets()->valueEditor(row)->text(); }
    void type(int row, const QString& text)
    {
        QLineEdit* e = sets()->valueEditor(row);
        e->selectAll();
        e->del();
        QTest::keyClicks(e, text);
    }
    float deviceFloat(int a)
    {
        return m_sim->withDevice([a](zrvsim::DeviceModel& d, auto&) {
            return std::bit_cast<float>((uint32_t(d.holdings[std::size_t(a + 1)]) << 16) | d.holdings[std::size_t(a)]);
        });
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        const std::string error = startSim();
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
        sets()->showNormal();
    }
    void cleanup() { shutDown(); }

    void startsMinimisedAtItsDefaultPlace()
    {
        m_terminal.reset();
        createTerminal();
        QVERIFY(sets()->isMinimized());
        sets()->showNormal();
        QCOMPARE(sets()->pos(), QPoint(0, 203));
        QVERIFY(!sets()->Upload->isEnabled());
        QVERIFY(!sets()->Download->isEnabled());
        QCOMPARE(sets()->Download->text(), QStringLiteral("Загрузить в  ZRV"));
        QCOMPARE(labels(), (QStringList{"P2В (кгс/кв.см)", "P2Н (кгс/кв.см)"}));
        QCOMPARE(value(1), QStringLiteral("0"));
    }

    void switchingTabsKeepsTheSubTabAndTheQaLabelDiffers()
    {
        sets()->TabSet->setCurrentIndex(1);  // QA, built by the sub-tab change
        QCOMPARE(labels(), (QStringList{"P2В (кгс/кв.см)", "P2Н (кгс/кв.см)", "Qy"}));
        sets()->TabBar->setCurrentIndex(3);
        QVERIFY(sets()->TabSet->isHidden());
        QCOMPARE(sets()->Table->rowCount(), 14);
        sets()->TabBar->setCurrentIndex(1);
        QVERIFY(!sets()->TabSet->isHidden());
        QCOMPARE(sets()->TabSet->currentIndex(), 1);
        QCOMPARE(labels(), (QStringList{"P1В (кгс/кв.см)", "P1Н (кгс/кв.см)", "Qyr (тыс. нм3/ч)"}));
        sets()->TabBar->setCurrentIndex(0);
        QCOMPARE(labels().at(2), QStringLiteral("Qy (тыс. нм3/ч)"));
        sets()->TabBar->setCurrentIndex(2);
        QCOMPARE(sets()->Table->rowCount(), 17);
        QCOMPARE(labels().at(16), QStringLiteral("Вес клапана 8"));
    }

    void resizeRule()
    {
        sets()->resize(300, 300);
        QCOMPARE(sets()->Upload->y(), 223);
        QCOMPARE(sets()->Download->y(), 223);
        QCOMPARE(sets()->Table->height(), 152);
        QCOMPARE(sets()->Table->width(), 272);
        QCOMPARE(sets()->Table->columnWidth(0), 190);
        sets()->resize(1000, 1000);
        QCOMPARE(sets()->size(), QSize(350, 500));  // its largest size
    }

    void editsGoIntoTheDraftAndBadTextIsReported()
    {
        type(1, "1.5");
        QCOMPARE(session().setpointEdits().view().holdingF32(32), 1.5f);
        QCOMPARE(image().holdingF32(32), 0.0f);  // the image stays the device's
        QVERIFY(session().setpointEdits().pending());
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!sets()->Download->isEnabled());  // not connected
        type(2, "x");
        QCOMPARE(m_messages, QStringList{"MODBUS Terminal: EConvertError\n'x' is not a valid floating point value"});
        // A rebuild replaces the rows without treating them as edits.
        m_messages.clear();
        QCOMPARE(session().setpointEdits().apply(0, 0, 1, "2").kind, zrv::setpoints::EditResult::Stored);
        sets()->BuildTable();
        QCOMPARE(value(1), QStringLiteral("2"));
        QVERIFY(m_messages.isEmpty());
    }

    void readEditThreeTabsWriteAndReadBack()
    {
        connectDevice();
        QVERIFY(m_messages.isEmpty());
        QVERIFY(sets()->Upload->isEnabled());
        QCOMPARE(value(1), QStringLiteral("3"));  // the device's P2B(PA)

        sets()->TabBar->setCurrentIndex(0);
        sets()->TabSet->setCurrentIndex(2);
        type(4, "2.5");  // Qm = 2500 nm3/h
        QVERIFY(sets()->Download->isEnabled());
        sets()->TabBar->setCurrentIndex(3);
        type(3, "120");  // TPA
        sets()->TabBar->setCurrentIndex(4);
        type(1, "30");   // Log_Period
        m_sim->clearRequests();
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        QVERIFY(!sets()->Download->isEnabled());
        settle();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QVERIFY(t().main->Timer1->isActive());
        QCOMPARE(m_sim->requests().size(), std::size_t(1));
        QCOMPARE(m_sim->requests()[0].frame.size(), std::size_t(237));
        QCOMPARE(deviceFloat(48), 2500.0f);
        QCOMPARE(m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) { return d.holdings[4]; }), uint16_t(120));

        // Read back after the device changed.
        device([](zrvsim::DeviceModel& d, auto&) { d.holdings[8] = 30; d.holdings[4] = 120; });
        type(1, "7");  // an edit that the read replaces
        QTest::mouseClick(sets()->Upload, Qt::LeftButton);
        settle();
        QCOMPARE(value(1), QStringLiteral("30"));  // still on the journal tab
        sets()->TabBar->setCurrentIndex(3);
        QCOMPARE(value(3), QStringLiteral("120"));
        sets()->TabBar->setCurrentIndex(0);
        QCOMPARE(value(4), QStringLiteral("2.5"));
    }

    void refusedWriteSendsNothing()
    {
        connectDevice();
        sets()->TabBar->setCurrentIndex(2);
        type(2, "0.4");  // Q1
        m_sim->clearRequests();
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Ошибка коэффициента Q1"});
        QVERIFY(m_sim->requests().empty());
        // The same set would be refused again: the button waits for an edit,
        // and what was typed stays in the table.
        QVERIFY(!sets()->Download->isEnabled());
        QCOMPARE(value(2), QStringLiteral("0.4"));
        // Nor does a polling step or a state change bring it back.
        QTest::qWait(1500);
        QVERIFY(!sets()->Download->isEnabled());
        // Corrected, the set goes out with one press.
        type(2, "1.25");
        QVERIFY(sets()->Download->isEnabled());
        m_messages.clear();
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        settle();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(deviceFloat(zrv::reg::kSf1 + 2), 1.25f);
        QVERIFY(!sets()->Download->isEnabled());
    }

    void whatTheTableShowsIsWrittenAfterARefresh()
    {
        connectDevice();
        QTest::mouseClick(sets()->Upload, Qt::LeftButton);
        settle();
        const uint16_t weight2 = m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) { return d.holdings[97]; });
        sets()->TabBar->setCurrentIndex(3);
        type(3, "477");  // TPA
        QVERIFY(sets()->rowMarked(2));
        sets()->TabBar->setCurrentIndex(2);
        type(11, QString::number(weight2 % 32 + 1));  // valve 2's weight, still within 1..32
        QVERIFY(sets()->rowMarked(10));
        // A journal reading reads all tables again first.
        t().main->N4->trigger();
        QVERIFY(QTest::qWaitFor([this] { return session().state().idle() && zrv::SessionProbe::idle(session()); }, 20000));
        settle();
        QCOMPARE(image().holding(4), m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) { return d.holdings[4]; }));
        // The table still shows the typed values, marked, and the write sends them.
        QCOMPARE(value(11), QString::number(weight2 % 32 + 1));
        QVERIFY(sets()->rowMarked(10));
        sets()->TabBar->setCurrentIndex(3);
        QCOMPARE(value(3), QStringLiteral("477"));
        QVERIFY(sets()->Download->isEnabled());
        m_sim->clearRequests();
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        settle();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        const auto device = m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) { return std::pair(d.holdings[4], d.holdings[97]); });
        QCOMPARE(device.first, uint16_t(477));
        QCOMPARE(device.second, uint16_t(weight2 % 32 + 1));
        // Written: the draft is gone and nothing is marked.
        QVERIFY(!session().setpointEdits().pending());
        QVERIFY(!sets()->rowMarked(2));
    }

    void aFailedWriteKeepsTheValuesForAnotherPress()
    {
        connectDevice();
        QTest::mouseClick(sets()->Upload, Qt::LeftButton);
        settle();
        sets()->TabBar->setCurrentIndex(4);
        type(1, "45");  // Log_Period
        // Every reply spoilt: each of the 104 attempts fails at once.
        device([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) { s.faults.corruptCrc = true; });
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        QVERIFY(sets()->TransferStop->isVisible());
        QVERIFY(QTest::qWaitFor([this] { return sets()->TransferState->text().contains(QStringLiteral(" из 104")); }, 5000));
        QVERIFY2(sets()->TransferState->text().startsWith(QStringLiteral("Запись в ZRV: попытка ")),
                 qPrintable(sets()->TransferState->text()));
        QVERIFY(QTest::qWaitFor([this] { return session().state().idle(); }, 30000));
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Сбой при записи данных"});
        QVERIFY(!sets()->TransferStop->isVisible());
        QCOMPARE(value(1), QStringLiteral("45"));
        QVERIFY(sets()->Download->isEnabled());

        // The line is good again: one press writes what the table shows.
        m_messages.clear();
        device([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) { s.faults.corruptCrc = false; });
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        settle();
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) { return d.holdings[8]; }), uint16_t(45));

        // "Остановить" in the middle of the retries does what Stop does.
        type(1, "50");
        device([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) { s.faults.silent = true; });
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        QTest::mouseClick(sets()->TransferStop, Qt::LeftButton);
        QCOMPARE(stateName(session().state()), QStringLiteral("HangingUp"));
        settle();
        QCOMPARE(stateName(session().state()), QStringLiteral("Disconnected"));
        QVERIFY(lastRequestIsStop());
        QVERIFY(m_messages.isEmpty());

        // So does closing the program in the middle of them.
        device([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) { s.faults.silent = false; });
        connectDevice();
        type(1, "55");
        device([](zrvsim::DeviceModel&, zrvsim::ModbusSlave& s) { s.faults.silent = true; });
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        QCOMPARE(closeTheProgram([this] { t().main->close(); }), 0);
        QVERIFY(lastRequestIsStop());
    }

    void weightEditsAreWrittenByTheNextDownload()
    {
        connectDevice();
        sets()->TabBar->setCurrentIndex(2);
        type(10, "300");
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(session().setpointEdits().viewSet().weights[0], uint8_t(44));
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        settle();
        QCOMPARE(m_messages, QStringList{"Ошибка: Ошибка весового коэффициента клапана 1"});
        m_messages.clear();
        type(10, "2.5");
        QCOMPARE(m_messages, QStringList{"MODBUS Terminal: '2.5' is not a valid integer value"});
        m_messages.clear();
        type(10, "257");
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        settle();
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) { return d.holdings[96]; }), uint16_t(1));
    }

    void aSetFromOneDeviceWrittenToAnother()
    {
        // Device A's own set: odd floats the table rounds, a changed weight.
        device([](zrvsim::DeviceModel& d, auto&) {
            const auto putFloat = [&d](int a, float v) {
                const uint32_t b = std::bit_cast<uint32_t>(v);
                d.holdings[std::size_t(a)] = uint16_t(b & 0xFFFF);
                d.holdings[std::size_t(a + 1)] = uint16_t(b >> 16);
            };
            putFloat(32, 3.14159f);    // P2B(PA), shown as 3.142
            putFloat(48, 2345.678f);   // Qm
            d.holdings[4] = 77;        // TPA
            d.holdings[97] = 5;        // weight of valve 2
        });
        connectDevice();
        QVERIFY(!sets()->Download->isEnabled());
        const QString path = m_dir.path() + "/a.zrvset";
        sets()->chooseFile = [path](bool) { return path; };
        QVERIFY(sets()->SaveToFile->isEnabled());
        sets()->SaveToFile->trigger();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        std::array<uint16_t, 114> fromA{};
        m_sim->withDevice([&fromA](zrvsim::DeviceModel& d, auto&) {
            for (int r = 0; r < 114; ++r) fromA[std::size_t(r)] = d.holdings[std::size_t(r)];
            return 0;
        });
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(text.startsWith(QStringLiteral("# Уставки ZRV\n# Устройство: ZRV-")));
        QVERIFY(text.contains(QStringLiteral("\t3.142\t")));

        const unsigned numberA = zrv::journal::reportDeviceNumber(session().image());
        // The same file as Notepad on a Russian Windows saves it after the
        // operator typed decimal commas.
        const QString windows = m_dir.path() + "/a-windows.zrvset";
        {
            QString edited = text;
            edited.replace(QStringLiteral("\t3.142\t"), QStringLiteral("\t3,142\t"));
            edited.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
            QFile w(windows);
            QVERIFY(w.open(QIODevice::WriteOnly));
            w.write(QByteArray::fromStdString(zrv::text::utf8ToCp1251(edited.toStdString())));
        }

        // Device B, with its defaults.
        shutDown();
        QVERIFY(startSim().empty());
        createTerminal();
        sets()->showNormal();
        // Not connected: the item is off, and a load says why.
        QVERIFY(!sets()->LoadFromFile->isEnabled());
        QVERIFY(!sets()->loadSetpointFile(path));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains(QStringLiteral("нет связи с прибором")), qPrintable(m_messages[0]));
        m_messages.clear();
        connectDevice();
        const unsigned numberB = zrv::journal::reportDeviceNumber(session().image());
        QVERIFY(numberA != numberB);
        sets()->TabBar->setCurrentIndex(0);
        sets()->TabSet->setCurrentIndex(0);
        const QString ownP2B = value(1);
        // A's file asks first, "Нет" by default, and "Нет" changes nothing.
        QVERIFY(!sets()->loadSetpointFile(path));
        QCOMPARE(m_questions, QStringList{QStringLiteral("Файл уставок сохранён для ZRV-%1, подключено ZRV-%2. Загрузить?")
                                              .arg(numberA)
                                              .arg(numberB)});
        QVERIFY(!session().setpointEdits().pending());
        QCOMPARE(value(1), ownP2B);
        QVERIFY(!sets()->Download->isEnabled());
        m_answer = true;
        QVERIFY(sets()->loadSetpointFile(windows));
        const zrv::setpoints::SetpointSet fromWindows = session().setpointEdits().viewSet();
        sets()->chooseFile = [path](bool) { return path; };
        QVERIFY(sets()->loadSetpointFile(path));
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QVERIFY(session().setpointEdits().viewSet().holding == fromWindows.holding);
        QVERIFY(session().setpointEdits().viewSet().weights == fromWindows.weights);
        QVERIFY(sets()->Download->isEnabled());
        sets()->TabBar->setCurrentIndex(0);
        sets()->TabSet->setCurrentIndex(0);
        QCOMPARE(value(1), QStringLiteral("3.142"));
        QVERIFY(sets()->rowMarked(0));   // P2B(PA) differs from B's
        QVERIFY(!sets()->rowMarked(1));  // P2H(PA) the same
        sets()->TabBar->setCurrentIndex(2);
        QVERIFY(sets()->rowMarked(10));  // valve 2's weight (row 11)

        m_sim->clearRequests();
        QTest::mouseClick(sets()->Download, Qt::LeftButton);
        settle();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QCOMPARE(m_sim->requests().size(), std::size_t(1));
        std::array<uint16_t, 114> inB{};
        m_sim->withDevice([&inB](zrvsim::DeviceModel& d, auto&) {
            for (int r = 0; r < 114; ++r) inB[std::size_t(r)] = d.holdings[std::size_t(r)];
            return 0;
        });
        // Exactly A's set, bit for bit. Registers 10..15 set the device's
        // clock, which then runs on by itself.
        for (int r = 0; r < 114; ++r) {
            if (r >= 10 && r <= 15) continue;
            QVERIFY2(inB[std::size_t(r)] == fromA[std::size_t(r)], qPrintable(QStringLiteral("register %1").arg(r)));
        }
        QVERIFY(!sets()->rowMarked(10));  // written: nothing differs any more

        // B holds A's set now: the file asks nothing and leaves nothing to
        // write, even over a value typed meanwhile.
        m_questions.clear();
        session().setpointEdits().apply(3, -1, 3, "88");
        QVERIFY(sets()->loadSetpointFile(path));
        QVERIFY(m_questions.isEmpty());
        QVERIFY(!session().setpointEdits().pending());
        QVERIFY(!sets()->Download->isEnabled());

        // The system's reasons are in Russian.
        QVERIFY(!sets()->loadSetpointFile(m_dir.path() + "/no-such.zrvset"));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].endsWith(QStringLiteral("нет такого файла или папки")), qPrintable(m_messages[0]));
        QVERIFY(!sets()->loadSetpointFile(m_dir.path()));
        QVERIFY2(m_messages[1].endsWith(QStringLiteral("это папка, а не файл")), qPrintable(m_messages[1]));
        m_messages.clear();

        // A damaged file changes nothing and says why.
        QFile bad(m_dir.path() + "/bad.zrvset");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        const QByteArray whole = text.toUtf8();
        bad.write(whole.left(whole.indexOf("HR 60\t")));  // cut off after a whole line
        bad.close();
        session().setpointEdits().apply(3, -1, 3, "88");
        QVERIFY(!sets()->loadSetpointFile(bad.fileName()));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains(QStringLiteral("файл неполон")), qPrintable(m_messages[0]));
        QCOMPARE(session().setpointEdits().view().holding(4), uint16_t(88));
    }

    void comparingWithAFileListsExactlyTheRowsThatDiffer()
    {
        connectDevice();
        const QString path = m_dir.path() + "/approved.zrvset";
        QVERIFY(sets()->saveSetpointFile(path));
        // On site, someone changed two setpoints and a valve weight.
        device([](zrvsim::DeviceModel& d, auto&) {
            d.holdings[4] = 95;  // TPA
            const uint32_t b = std::bit_cast<uint32_t>(2.75f);
            d.holdings[32] = uint16_t(b & 0xFFFF);  // P2B(PA)
            d.holdings[33] = uint16_t(b >> 16);
            d.holdings[98] = uint16_t(d.holdings[98] + 2);  // valve 3
        });
        QVERIFY(sets()->CompareWithFile->isEnabled());
        QTest::mouseClick(sets()->Upload, Qt::LeftButton);
        settle();
        QDialog* box = sets()->compareWithSetpointFile(path);
        QVERIFY(box);
        const auto* table = box->findChild<QTableWidget*>("ComparisonTable");
        QCOMPARE(box->findChild<QLabel*>("ComparisonSummary")->text(), QStringLiteral("Отличается строк: 3 (файл approved.zrvset)"));
        QCOMPARE(table->rowCount(), 3);
        QStringList rows;
        for (int r = 0; r < 3; ++r)
            rows << table->item(r, 0)->text() + " | " + table->item(r, 1)->text() + " | " + table->item(r, 2)->text();
        QVERIFY2(rows[0].startsWith(QStringLiteral("Уставки ПП / PA: P2В (кгс/кв.см) | 2.75 | ")), qPrintable(rows.join("; ")));
        QVERIFY2(rows.filter(QStringLiteral("Период управления TPA (с) | 95 | ")).size() == 1, qPrintable(rows.join("; ")));
        QVERIFY2(rows.filter(QStringLiteral("Клапаны: ")).size() == 1, qPrintable(rows.join("; ")));
        box->close();
        // A file saved now matches; a damaged one says so and shows nothing.
        QVERIFY(sets()->saveSetpointFile(path));
        box = sets()->compareWithSetpointFile(path);
        QCOMPARE(box->findChild<QLabel*>("ComparisonSummary")->text(), QStringLiteral("Совпадает с файлом"));
        box->close();
        QVERIFY(!sets()->compareWithSetpointFile(m_dir.path() + "/none.zrvset"));
        QVERIFY2(m_messages.size() == 1 && m_messages[0].endsWith(QStringLiteral("нет такого файла или папки")),
                 qPrintable(m_messages.join("; ")));
    }
};

QTEST_MAIN(TestSetpoints)
#include "tst_setpoints.moc"
