// Reaching the simulated device through its simulated Hayes modem: dialling,
// the failures, cancelling, and the hang-up with its guard times.

#include "SimServer.h"
#include "connection/ui/Select_form.h"
#include "link/ModbusTransact.h"
#include "modem/ui/Modem.h"
#include "shell/Main_form.h"
#include "shell/Terminal.h"
#include "support/SessionProbe.h"
#include "support/SimulatedTerminal.h"
#include "windowbase/MessageBox.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

class TestModem : public SimulatedTerminal {
    Q_OBJECT

private:
    TConnectModem* modem() { return t().connectModem; }
    TSelect* select() { return t().select; }
    std::string lineText()
    {
        std::string s;
        for (const auto& [at, b] : m_sim->lineBytes()) s += char(b);
        return s;
    }

private slots:
    void initTestCase() { QVERIFY(prepareProcess()); }
    void init()
    {
        zrvsim::SimOptions o;
        o.modem = true;
        const std::string error = startSim(o);
        QVERIFY2(error.empty(), error.c_str());
        createTerminal();
        select()->ModemEnable->setChecked(true);
    }
    void cleanup() { shutDown(); }

    void windowLayout()
    {
        QCOMPARE(modem()->windowTitle(), QStringLiteral("Удаленное подключение"));
        QCOMPARE(modem()->Button1->text(), QStringLiteral("Отмена"));
        QCOMPARE(modem()->Button2->text(), QStringLiteral("Соединить"));
        QCOMPARE(modem()->StaticText1->text(), QStringLiteral("Подключение к"));
        QCOMPARE(modem()->StaticText2->text(), QStringLiteral("Состояние:"));
        QCOMPARE(modem()->Timer1->interval(), 20);
        QVERIFY(modem()->minimumSize() == modem()->maximumSize());
    }

    void dialReachPollAndHangUp()
    {
        modem()->Number->setText(QStringLiteral("5550"));
        QTimer::singleShot(100, modem(), [this] { modem()->Button2->click(); });
        connectDevice();
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join("; ")));
        QCOMPARE(modem()->State->text(), QStringLiteral("Соединение успешно"));
        QCOMPARE(t().main->StatusPanel0->text(), QStringLiteral("Обнаружен ZRV-127"));
        QVERIFY(lineText().rfind("ATDP5550\r", 0) == 0);
        pollStep();
        QCOMPARE(session().counters().failures.load(), 0);

        m_sim->clearRequests();
        QString duringHangUp;
        QTimer::singleShot(1000, this, [&] { duringHangUp = t().main->StatusPanel0->text(); });
        QTest::mouseClick(select()->Disconnect, Qt::LeftButton);
        settle();
        QCOMPARE(duringHangUp, QStringLiteral("Разрываю соединение..."));
        QCOMPARE(t().main->StatusPanel0->text(), QStringLiteral("Усторйство не обнаружено"));
        QVERIFY(!zrv::SessionProbe::portOpen(session()));
        QVERIFY(select()->Connect->isEnabled());

        // The bytes and the guard times the modem saw: the coil write, then
        // 3.5 s of silence, "+++", 3.5 s, "ath0" CR LF.
        const auto bytes = m_sim->lineBytes();
        std::string text;
        for (const auto& [at, b] : bytes) text += char(b);
        const std::size_t plus = text.find("+++");
        QVERIFY(plus != std::string::npos && plus > 0);
        QCOMPARE(text.substr(plus), std::string("+++ath0\r\n"));
        const auto gapBefore = bytes[plus].first - bytes[plus - 1].first;
        const auto gapAfter = bytes[plus + 3].first - bytes[plus + 2].first;
        QVERIFY(gapBefore >= 3400ms);
        QVERIFY(gapAfter >= 3400ms);
        const bool hungUp = m_sim->withModem([](zrvsim::HayesModem& m) { return !m.callUp(); });
        QVERIFY(hungUp);
    }

    void busyKeepsTheDialogueOpenAndCancelClosesThePort()
    {
        modem()->Number->setText(QStringLiteral("5551"));
        bool stillOpen = false, canDialAgain = false;
        QString state;
        QTimer::singleShot(100, modem(), [this] { modem()->Button2->click(); });
        QTimer::singleShot(1200, modem(), [&] {
            state = modem()->State->text();
            stillOpen = modem()->isVisible();
            canDialAgain = modem()->Button2->isEnabled();
            modem()->Button1->click();
        });
        connectDevice();
        QCOMPARE(state, QStringLiteral("Занято"));
        QVERIFY(stillOpen);
        QVERIFY(canDialAgain);
        QVERIFY(!zrv::SessionProbe::portOpen(session()));
        QVERIFY(select()->Connect->isEnabled());
        QVERIFY(!t().main->Timer1->isActive());
        QVERIFY(m_messages.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(lineText().find("ath0\r\n") != std::string::npos, 2000);
        QCOMPARE(modem()->State->text(), QString());
    }

    void noAnswerLeavesItOpenAndTheCloseBoxCancels()
    {
        modem()->Number->setText(QStringLiteral("5554"));
        bool dialling = false;
        QTimer::singleShot(100, modem(), [this] { modem()->Button2->click(); });
        QTimer::singleShot(700, modem(), [&] {
            dialling = modem()->Timer1->isActive() && !modem()->Button2->isEnabled();
            modem()->close();  // the close box
        });
        connectDevice();
        QVERIFY(dialling);
        QVERIFY(!modem()->Timer1->isActive());
        QVERIFY(!zrv::SessionProbe::portOpen(session()));
        QVERIFY(select()->Connect->isEnabled());
    }

    void closingTheProgramWhileDiallingCancelsTheDial()
    {
        modem()->Number->setText(QStringLiteral("5554"));  // nobody answers
        const int status = closeTheProgram([this] {
            QTimer::singleShot(100, modem(), [this] { modem()->Button2->click(); });
            QTimer::singleShot(700, t().main, [this] { t().main->close(); });
            select()->Connect->click();
        });
        QCOMPARE(status, 0);  // the modal dialogue does not keep the program
        QVERIFY(lineText().rfind("ATDP5554\r", 0) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(lineText().find("ath0\r\n") != std::string::npos, 2000);
    }
};

QTEST_MAIN(TestModem)
#include "tst_modem.moc"
