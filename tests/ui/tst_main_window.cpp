// The main window on the offscreen platform: menus, view toggles, placement,
// the About box and the settings file written at close.

#include "connection/ui/Select_form.h"
#include "journal/ui/Log_form.h"
#include "modem/ui/Modem.h"
#include "monitor/ui/Front_panel_form.h"
#include "monitor/ui/Measure_form.h"
#include "setpoints/ui/Sets_form.h"
#include "shell/About.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SimulatedTerminal.h"
#include "windowbase/MessageBox.h"
#include "windowbase/SettingsFile.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

class TestMainWindow : public SimulatedTerminal {
    Q_OBJECT

private:
    void writeIni(const QByteArray& bytes)
    {
        QFile f(QString::fromUtf8(zrv::SettingsFile::kFileName));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray readIni()
    {
        QFile f(QString::fromUtf8(zrv::SettingsFile::kFileName));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QPoint centredOnScreen(QSize size)
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        return {screen.width() / 2 - size.width() / 2, screen.height() / 2 - size.height() / 2};
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        QFile::remove(QString::fromUtf8(zrv::SettingsFile::kFileName));
        m_messages.clear();
    }
    void cleanup()
    {
        m_terminal.reset();
        QDir().rmdir(QStringLiteral("zrvterm.ini.tmp"));
    }

    void menuTreeAndStartState()
    {
        createTerminal();
        TMain* m = t().main;
        QCOMPARE(m->windowTitle(), QStringLiteral("Терминал ZRV DGR-8"));
        QStringList menus;
        for (QAction* a : m->menuBar()->actions()) menus << a->text();
        QCOMPARE(menus, (QStringList{"Файл", "Вид", "Функции", "Окно", "Помощь"}));
        const auto captions = [m](int i) {
            QStringList items;
            for (QAction* a : m->menuBar()->actions().at(i)->menu()->actions()) items << a->text();
            return items;
        };
        QCOMPARE(captions(0), (QStringList{"Открыть...", "Сохранить...", "Выход", "Журнал изменений..."}));
        // The terminal's own items first; the diagnostics and the faster
        // reading and exchange after them.
        QCOMPARE(captions(1), (QStringList{"Выбор устройства", "Измерения", "Управление", "Уставки", "Журнал",
                                           "Монитор обмена", "Графики", "Станции"}));
        QCOMPARE(captions(2), (QStringList{"Установить Время", "Считать Журнал", "Считать новые записи", "Быстрый обмен"}));
        QVERIFY(m->FastF->isCheckable() && !m->FastF->isChecked());  // off unless chosen
        QVERIFY(!m->NewRecordsF->isEnabled());
        QCOMPARE(captions(3), (QStringList{"Каскад"}));
        QCOMPARE(captions(4), (QStringList{"О программе"}));
        QVERIFY(m->SelectF->isChecked() && m->MeasureF->isChecked() && m->Front_PanelF->isChecked());
        QVERIFY(!m->SetsF->isChecked() && !m->LogF->isChecked());
        QVERIFY(!m->N8->isEnabled() && !m->N4->isEnabled());
        QVERIFY(m->N10->isEnabled() && m->N9->isEnabled());
        QVERIFY(!m->Timer1->isActive());
        QCOMPARE(m->Timer1->interval(), 1000);
        QVERIFY(m->Timer2->isActive());
        QCOMPARE(m->Timer2->interval(), 200);
        QCOMPARE(m->StatusPanel0->text(), QStringLiteral("Устройство не обнаружено"));
        QCOMPARE(m->StatusPanel1->text(), QStringLiteral("Успешных транзакций 0/сбоев 0"));
        QCOMPARE(m->StatusPanel0->minimumWidth(), 150);
        QCOMPARE(m->StatusPanel1->minimumWidth(), 200);
        // The panel grows to show its longest text whole.
        QVERIFY(m->StatusPanel0->width() >= m->StatusPanel0->fontMetrics().horizontalAdvance(m->StatusPanel0->text()));
        // Children stand at their defaults: sets minimised, the rest normal.
        QCOMPARE(t().measure->pos(), QPoint(216, 0));
        QCOMPARE(t().frontPanel->pos(), QPoint(215, 201));
        QVERIFY(t().sets->isMinimized());
        QVERIFY(t().logView->isMinimized());
        QVERIFY(!t().select->isMinimized());
        QCOMPARE(t().select->windowTitle(), QStringLiteral("Выбор устройства"));
        QCOMPARE(t().measure->windowTitle(), QStringLiteral("Измерения"));
        QCOMPARE(t().frontPanel->windowTitle(), QStringLiteral("Управление"));
        QCOMPARE(t().sets->windowTitle(), QStringLiteral("Уставки"));
        QCOMPARE(t().logView->windowTitle(), QStringLiteral("Журнал событий"));
        QVERIFY(m_messages.isEmpty());
    }

    void viewToggleMinimisesAndTimer2FollowsTheWindow()
    {
        createTerminal();
        TMain* m = t().main;
        m->show();
        m->MeasureF->trigger();
        QVERIFY(t().measure->isMinimized());
        QVERIFY(!m->MeasureF->isChecked());
        t().measure->showNormal();  // by the window's own button
        QTRY_VERIFY_WITH_TIMEOUT(m->MeasureF->isChecked(), 1000);
        m->SetsF->trigger();
        QVERIFY(!t().sets->isMinimized());
        QVERIFY(m->SetsF->isChecked());
        t().sets->showMaximized();  // maximised counts as not minimised
        m->Timer2Timer();
        QVERIFY(m->SetsF->isChecked());
        t().logView->showMinimized();
        m->LogF->setChecked(true);
        m->Timer2Timer();
        QVERIFY(!m->LogF->isChecked());
    }

    void defaultSizeIsCentred()
    {
        createTerminal();
        TMain* m = t().main;
        QCOMPARE(m->size(), QSize(570, 650));
        QCOMPARE(m->pos(), centredOnScreen(QSize(570, 650)));
    }

    void storedSizeIsUsedAndCentred()
    {
        zrv::SettingsSnapshot s;
        s.mainWidth = 640;
        s.mainHeight = 480;
        s.select = {30, 40, 0};
        s.comIndex = 9;
        s.addressIndex = 110;
        s.modemEnable = true;
        s.phoneNumber = "5551234";
        writeIni(QByteArray::fromStdString(zrv::SettingsFile::compose(s)));
        createTerminal();
        TMain* m = t().main;
        QCOMPARE(m->size(), QSize(640, 480));
        QCOMPARE(m->pos(), centredOnScreen(QSize(640, 480)));
        TSelect* sel = t().select;
        QCOMPARE(sel->pos(), QPoint(30, 40));
        QCOMPARE(sel->portName(), QStringLiteral("COM10"));
        QCOMPARE(sel->slaveAddress(), 111);
        QCOMPARE(sel->Address->currentText(), QStringLiteral("111"));
        QVERIFY(sel->ModemEnable->isChecked());
        QCOMPARE(t().connectModem->Number->text(), QStringLiteral("5551234"));
        QVERIFY(t().sets->isMinimized() == false);  // stored state 0: normal
    }

    void openAndSaveDoNothing()
    {
        createTerminal();
        TMain* m = t().main;
        const int windows = QApplication::topLevelWidgets().size();
        m->N10->trigger();
        m->N9->trigger();
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(m_messages.isEmpty());
    }

    void aboutBoxIsPlacedOnceAtStartUp()
    {
        createTerminal();
        TMain* m = t().main;
        TAbout_Form* about = t().about;
        const QPoint expected(m->x() + m->width() / 2 - about->width() / 2,
                              m->y() + m->height() / 2 - about->height() / 2 - 100);
        QCOMPARE(about->pos(), expected);
        QCOMPARE(about->windowTitle(), QStringLiteral("О Программе"));
        QCOMPARE(about->findChildren<QLabel*>().size(), 6);
        m->move(m->x() + 50, m->y() + 30);
        m->N11->trigger();
        QVERIFY(about->isVisible());
        QCOMPARE(about->pos(), expected);
        QVERIFY(!about->isModal());
    }

    void settingsWrittenAtCloseMatchTheLiveWindows()
    {
        createTerminal();
        TMain* m = t().main;
        m->show();
        TSelect* sel = t().select;
        sel->move(8, 16);
        sel->NameCOM->setCurrentIndex(4);
        sel->Address->setCurrentIndex(9);
        sel->ModemEnable->setChecked(true);
        t().measure->showMinimized();
        t().connectModem->Number->setText(QStringLiteral("8-800-000"));
        m->resize(600, 700);
        m->close();
        const QByteArray bytes = readIni();
        QVERIFY(bytes.startsWith("Select: 8;16;0;\r\n"));
        QVERIFY(bytes.contains("\r\nMeasure: "));
        QVERIFY(bytes.contains(";1;\r\nSets: "));  // measurement window minimised
        QVERIFY(bytes.contains("\r\nModemEnable: 1;\r\nCOM: 4;\r\nAddress: 9;\r\nMainHeight: 700;\r\nMainWidth: 600;\r\n"));
        QVERIFY(bytes.endsWith("PhoneNumber: 8-800-000;\r\nFileName: ;\r\n"));
        QCOMPARE(bytes.count("\r\n"), 12);
        QVERIFY(!m->Timer1->isActive());
    }

    void newPreferencesLiveBesideTheTwelveLines()
    {
        createTerminal();
        TMain* m = t().main;
        m->FastF->trigger();
        QVERIFY(session().options().fastFraming);
        m->close();
        QCOMPARE(readIni().count("\r\n"), 12);
        QVERIFY(!readIni().contains("fast"));
        QFile conf(QString::fromUtf8(qgetenv("XDG_CONFIG_HOME")) + "/zrvterm/zrvterm.conf");
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QVERIFY(conf.readAll().contains("fastFraming=true"));
        conf.close();
        m_terminal.reset();

        createTerminal();  // the tick comes back, and the link follows it
        QVERIFY(t().main->FastF->isChecked());
        QVERIFY(session().options().fastFraming);
        t().main->FastF->trigger();
        QVERIFY(!session().options().fastFraming);
    }

    void settingsThatCannotBeWrittenAreReportedAndTheOldFileKept()
    {
        const QByteArray old = "Select: 1;2;0;\r\nMeasure: 216;0;0;\r\nSets: 0;203;1;\r\nFront_Panel: 215;201;0;\r\n"
                               "Special: 0;0;0;\r\nModemEnable: 0;\r\nCOM: 3;\r\nAddress: 4;\r\nMainHeight: 650;\r\n"
                               "MainWidth: 570;\r\nPhoneNumber: 123;\r\nFileName: ;\r\n";
        writeIni(old);
        createTerminal();
        t().select->NameCOM->setCurrentIndex(7);
        // Where the new file would be made, something that is no file: the
        // write fails even for root.
        QVERIFY(QDir().mkdir(QStringLiteral("zrvterm.ini.tmp")));
        t().main->close();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().startsWith(QStringLiteral("Ошибка: Не удалось сохранить файл настроек zrvterm.ini: ")),
                 qPrintable(m_messages.first()));
        QCOMPARE(readIni(), old);
    }

    void malformedSettingsAreReportedOnceAndReplaced()
    {
        writeIni("Select: 8;abc;0;\r\nMeasure: 1;2;0;\r\n");
        createTerminal();
        TMain* m = t().main;
        QVERIFY(m->settingsProblem.contains(QStringLiteral("zrvterm.ini")));
        QVERIFY(m->settingsProblem.contains(QStringLiteral("\"abc\"")));
        QVERIFY(!m->settings.loaded);
        QCOMPARE(m->size(), QSize(570, 650));
        QCOMPARE(t().select->pos(), QPoint(0, 0));
        m->close();
        const zrv::SettingsParse again = zrv::SettingsFile::read();
        QVERIFY(again.settings.loaded);
        QVERIFY(!again.malformed);
    }

    void indicatorsAreReachableByScreenReaders()
    {
        createTerminal();
        TShape* i3 = t().frontPanel->I[2];
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(i3);
        QVERIFY(a);
        QCOMPARE(a->role(), QAccessible::Indicator);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Клапан 3"));
        i3->setBrushColor(QColor(0, 255, 0));
        QCOMPARE(a->text(QAccessible::Description), QStringLiteral("открыт"));
        t().frontPanel->paintIndicatorsSilver();
        QCOMPARE(a->text(QAccessible::Description), QStringLiteral("нет связи"));
    }

    void bogusStoredChoicesSelectTheFirstEntries()
    {
        writeIni("Select: 0;0;0;\r\nMeasure: 216;0;0;\r\nSets: 0;203;1;\r\nFront_Panel: 215;201;0;\r\n"
                 "Special: 0;0;0;\r\nModemEnable: 0;\r\nCOM: 77;\r\nAddress: -1;\r\nMainHeight: 99999;\r\n"
                 "MainWidth: -5;\r\nPhoneNumber: ;\r\nFileName: ;\r\n");
        createTerminal();
        QCOMPARE(t().select->portName(), QStringLiteral("COM1"));
        QCOMPARE(t().select->slaveAddress(), 1);
        // Absurd sizes are clamped to what a window can take: at least 200
        // wide (or what its menus and status bar need), at most 10000 high.
        QCOMPARE(t().main->width(), std::max(200, t().main->minimumSizeHint().width()));
        QCOMPARE(t().main->height(), 10000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
