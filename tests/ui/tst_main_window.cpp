// The main window on the offscreen platform: menus, view toggles, placement,
// the About box and the settings file written at close.

#include "journal/Log_form.h"
#include "link/Select_form.h"
#include "modem/Modem.h"
#include "monitor/Front_panel_form.h"
#include "monitor/Measure_form.h"
#include "setpoints/Sets_form.h"
#include "shell/About.h"
#include "shell/Forms.h"
#include "shell/Main_form.h"
#include "shell/MessageBox.h"
#include "shell/SettingsFile.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_messages;

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
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
        setMessageBoxHandler([this](const QString& text, const QString& title) { m_messages << title + ": " + text; });
    }
    void init()
    {
        QFile::remove(QString::fromUtf8(zrv::SettingsFile::kFileName));
        m_messages.clear();
    }
    void cleanup() { destroyForms(); }

    void menuTreeAndStartState()
    {
        createForms();
        TMain* m = forms().main;
        QCOMPARE(m->windowTitle(), QStringLiteral("Терминал ZRV DGR-8"));
        QStringList menus;
        for (QAction* a : m->menuBar()->actions()) menus << a->text();
        QCOMPARE(menus, (QStringList{"Файл", "Вид", "Функции", "Окно", "Помощь"}));
        const auto captions = [m](int i) {
            QStringList items;
            for (QAction* a : m->menuBar()->actions().at(i)->menu()->actions()) items << a->text();
            return items;
        };
        QCOMPARE(captions(0), (QStringList{"Открыть...", "Сохранить...", "Выход"}));
        QCOMPARE(captions(1), (QStringList{"Выбор устройства", "Измерения", "Управление", "Уставки", "Журнал"}));
        QCOMPARE(captions(2), (QStringList{"Установить Время", "Считать Журнал"}));
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
        QVERIFY(m->StatusPanel0->minimumWidth() >= 150);
        QVERIFY(m->StatusPanel1->minimumWidth() >= 200);
        // Children stand at their defaults: sets minimised, the rest normal.
        QCOMPARE(forms().measure->pos(), QPoint(216, 0));
        QCOMPARE(forms().frontPanel->pos(), QPoint(215, 201));
        QVERIFY(forms().sets->isMinimized());
        QVERIFY(forms().logView->isMinimized());
        QVERIFY(!forms().select->isMinimized());
        QCOMPARE(forms().select->windowTitle(), QStringLiteral("Выбор устройства"));
        QCOMPARE(forms().measure->windowTitle(), QStringLiteral("Измерения"));
        QCOMPARE(forms().frontPanel->windowTitle(), QStringLiteral("Управление"));
        QCOMPARE(forms().sets->windowTitle(), QStringLiteral("Уставки"));
        QCOMPARE(forms().logView->windowTitle(), QStringLiteral("Журнал событий"));
        QVERIFY(m_messages.isEmpty());
    }

    void viewToggleMinimisesAndTimer2FollowsTheWindow()
    {
        createForms();
        TMain* m = forms().main;
        m->show();
        m->MeasureF->trigger();
        QVERIFY(forms().measure->isMinimized());
        QVERIFY(!m->MeasureF->isChecked());
        forms().measure->showNormal();  // by the window's own button
        QTRY_VERIFY_WITH_TIMEOUT(m->MeasureF->isChecked(), 1000);
        m->SetsF->trigger();
        QVERIFY(!forms().sets->isMinimized());
        QVERIFY(m->SetsF->isChecked());
        forms().sets->showMaximized();  // maximised counts as not minimised
        m->Timer2Timer();
        QVERIFY(m->SetsF->isChecked());
        forms().logView->showMinimized();
        m->LogF->setChecked(true);
        m->Timer2Timer();
        QVERIFY(!m->LogF->isChecked());
    }

    void defaultSizeIsCentred()
    {
        createForms();
        TMain* m = forms().main;
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
        createForms();
        TMain* m = forms().main;
        QCOMPARE(m->size(), QSize(640, 480));
        QCOMPARE(m->pos(), centredOnScreen(QSize(640, 480)));
        TSelect* sel = forms().select;
        QCOMPARE(sel->pos(), QPoint(30, 40));
        QCOMPARE(sel->portName(), QStringLiteral("COM10"));
        QCOMPARE(sel->slaveAddress(), 111);
        QCOMPARE(sel->Address->currentText(), QStringLiteral("111"));
        QVERIFY(sel->ModemEnable->isChecked());
        QCOMPARE(forms().connectModem->Number->text(), QStringLiteral("5551234"));
        QVERIFY(forms().sets->isMinimized() == false);  // stored state 0: normal
    }

    void openAndSaveDoNothing()
    {
        createForms();
        TMain* m = forms().main;
        const int windows = QApplication::topLevelWidgets().size();
        m->N10->trigger();
        m->N9->trigger();
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(m_messages.isEmpty());
    }

    void aboutBoxIsPlacedOnceAtStartUp()
    {
        createForms();
        TMain* m = forms().main;
        TAbout_Form* about = forms().about;
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
        createForms();
        TMain* m = forms().main;
        m->show();
        TSelect* sel = forms().select;
        sel->move(8, 16);
        sel->NameCOM->setCurrentIndex(4);
        sel->Address->setCurrentIndex(9);
        sel->ModemEnable->setChecked(true);
        forms().measure->showMinimized();
        forms().connectModem->Number->setText(QStringLiteral("8-800-000"));
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

    void malformedSettingsAreReportedOnceAndReplaced()
    {
        writeIni("Select: 8;abc;0;\r\nMeasure: 1;2;0;\r\n");
        createForms();
        TMain* m = forms().main;
        QVERIFY(m->settingsProblem.contains(QStringLiteral("zrvterm.ini")));
        QVERIFY(m->settingsProblem.contains(QStringLiteral("\"abc\"")));
        QVERIFY(!m->settings.loaded);
        QCOMPARE(m->size(), QSize(570, 650));
        QCOMPARE(forms().select->pos(), QPoint(0, 0));
        m->close();
        const zrv::SettingsParse again = zrv::SettingsFile::read();
        QVERIFY(again.settings.loaded);
        QVERIFY(!again.malformed);
    }

    void indicatorsAreReachableByScreenReaders()
    {
        createForms();
        TShape* i3 = forms().frontPanel->I[2];
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(i3);
        QVERIFY(a);
        QCOMPARE(a->role(), QAccessible::Indicator);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Клапан 3"));
        i3->setBrushColor(QColor(0, 255, 0));
        QCOMPARE(a->text(QAccessible::Description), QStringLiteral("открыт"));
        forms().frontPanel->paintIndicatorsSilver();
        QCOMPARE(a->text(QAccessible::Description), QStringLiteral("нет связи"));
    }

    void bogusStoredChoicesSelectTheFirstEntries()
    {
        writeIni("Select: 0;0;0;\r\nMeasure: 216;0;0;\r\nSets: 0;203;1;\r\nFront_Panel: 215;201;0;\r\n"
                 "Special: 0;0;0;\r\nModemEnable: 0;\r\nCOM: 77;\r\nAddress: -1;\r\nMainHeight: 99999;\r\n"
                 "MainWidth: -5;\r\nPhoneNumber: ;\r\nFileName: ;\r\n");
        createForms();
        QCOMPARE(forms().select->portName(), QStringLiteral("COM1"));
        QCOMPARE(forms().select->slaveAddress(), 1);
        QVERIFY(forms().main->width() >= 200);
        QVERIFY(forms().main->height() <= 10000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
