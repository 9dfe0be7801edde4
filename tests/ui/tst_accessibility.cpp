// What a screen reader hears: no control named by a program identifier, every
// shown value readable, and the setpoints table read as name and value.

#include "SimServer.h"
#include "clock/ui/Time_form.h"
#include "journal/ui/Log_form.h"
#include "journal/ui/Logprocessform.h"
#include "link/ModbusTransact.h"
#include "connection/ui/Select_form.h"
#include "modem/ui/Modem.h"
#include "monitor/ui/Front_panel_form.h"
#include "monitor/ui/Measure_form.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/About.h"
#include "stations/ui/Stations_form.h"
#include "shell/Terminal.h"
#include "shell/Main_form.h"
#include "diagnostics/ui/Traffic_form.h"
#include "diagnostics/ui/Trends_form.h"
#include "support/AccessibilityAudit.h"
#include "support/SimulatedTerminal.h"

#include <QAccessibleTableInterface>
#include <QLineEdit>
#include <QtTest>

class TestAccessibility : public SimulatedTerminal {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        const std::string error = startSim();
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
    }
    void cleanup() { shutDown(); }

    void everyWindowNamesItsControlsForPeople_data()
    {
        QTest::addColumn<QString>("window");
        for (const char* w : {"main", "select", "measure", "panel", "sets", "clock", "modem", "viewer", "progress", "about",
                              "traffic", "trends", "stations", "changes"})
            QTest::newRow(w) << QString::fromLatin1(w);
    }
    void everyWindowNamesItsControlsForPeople()
    {
        QFETCH(QString, window);
        connectDevice();
        pollStep();
        Terminal& f = t();
        const QHash<QString, QWidget*> windows{
            {"main", f.main},        {"select", f.select},    {"measure", f.measure},      {"panel", f.frontPanel},
            {"sets", f.sets},        {"clock", f.timeZRV},    {"modem", f.connectModem},   {"viewer", f.logView},
            {"progress", f.logProgress}, {"about", f.about}, {"traffic", f.traffic}, {"trends", f.trends},
            {"stations", f.stations}, {"changes", f.changeLog}};
        QWidget* w = windows.value(window);
        QVERIFY(w);
        const QStringList problems = accessibilityProblems(w);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("\n")));
    }

    void shownValuesAreSpokenAfterAConnection()
    {
        connectDevice();
        pollStep();
        Terminal& f = t();
        QCOMPARE(spokenName(f.main->StatusPanel0), QStringLiteral("Обнаружен ZRV-%1").arg(image().deviceNumber()));
        QVERIFY(spokenName(f.main->StatusPanel1).startsWith(QStringLiteral("Успешных транзакций ")));
        for (QLabel* value : {f.measure->P1, f.measure->P2, f.measure->Tg, f.measure->Qi, f.measure->Mq, f.measure->Vbat}) {
            QVERIFY(!value->text().isEmpty());
            QCOMPARE(spokenName(value), value->text());
        }
        QVERIFY(spokenName(f.frontPanel->Percent).endsWith(QLatin1Char('%')));
        QCOMPARE(spokenName(f.frontPanel->Sourse), QStringLiteral("Сеть"));
        QCOMPARE(spokenName(f.frontPanel->I[2]), QStringLiteral("Клапан 3"));
        f.logView->setStatusText(QStringLiteral("Прочитано записей: 3"));
        QCOMPARE(spokenName(f.logView->StatusBar1), QStringLiteral("Прочитано записей: 3"));
        f.logProgress->ReadCount->setText(QStringLiteral("17"));
        QCOMPARE(spokenName(f.logProgress->ReadCount), QStringLiteral("17"));
        f.connectModem->State->setText(QStringLiteral("Занято"));
        QCOMPARE(spokenName(f.connectModem->State), QStringLiteral("Занято"));
        QCOMPARE(spokenName(f.connectModem->Number), QStringLiteral("Номер телефона"));
    }

    void setpointsTableReadsNameAndValueAndKeepsItsEditor()
    {
        TSets* sets = t().sets;
        sets->showNormal();
        t().main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(t().main));
        connectDevice();
        sets->TabBar->setCurrentIndex(3);  // parameters: fourteen rows
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(sets->Table);
        QVERIFY(table && table->tableInterface());
        QAccessibleTableInterface* t = table->tableInterface();
        QCOMPARE(t->rowCount(), sets->Table->rowCount());
        for (int row = 0; row < t->rowCount(); ++row) {
            QAccessibleInterface* name = t->cellAt(row, 0);
            QAccessibleInterface* value = t->cellAt(row, 1);
            QVERIFY(name && value);
            QVERIFY(!name->text(QAccessible::Name).isEmpty());
            QCOMPARE(value->text(QAccessible::Name), sets->valueEditor(row + 1)->text());
            QVERIFY2(!value->text(QAccessible::Name).isEmpty(), qPrintable(name->text(QAccessible::Name)));
        }
        // TPA (row 3) as the device holds it, then typed: every keystroke
        // is stored, and the cell follows the editor.
        QCOMPARE(t->cellAt(2, 1)->text(QAccessible::Name),
                 QString::number(m_sim->withDevice([](zrvsim::DeviceModel& d, auto&) { return int(d.holdings[4]); })));
        QLineEdit* tpa = sets->valueEditor(3);
        tpa->setFocus();
        tpa->selectAll();
        QTest::keyClick(tpa, Qt::Key_1);
        QCOMPARE(session().setpointEdits().view().holding(4), uint16_t(1));
        QTest::keyClick(tpa, Qt::Key_2);
        QCOMPARE(session().setpointEdits().view().holding(4), uint16_t(12));
        QCOMPARE(t->cellAt(2, 1)->text(QAccessible::Name), QStringLiteral("12"));
        QVERIFY(sets->Download->isEnabled());

        // Down moves the editor to the next row, Up back; Tab leaves the table.
        QTest::keyClick(tpa, Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), sets->valueEditor(4));
        QTest::keyClick(sets->valueEditor(4), Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), tpa);
        QTest::keyClick(tpa, Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        QVERIFY(!sets->Table->isAncestorOf(focus));
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
