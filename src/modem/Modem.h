#pragma once
// "Удаленное подключение": dials the device through a Hayes modem on the open
// port, watches the answer and reports it; hangs up on disconnection.

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace zrv::modem {
class ModemDialogue;
}
class TMain;

class TConnectModem : public QDialog {
    Q_OBJECT
public:
    explicit TConnectModem(TMain* main);
    ~TConnectModem() override;

    QPushButton* Button1 = nullptr;  // "Отмена"
    QFrame* Bevel1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLineEdit* Number = nullptr;
    QLabel* State = nullptr;
    QPushButton* Button2 = nullptr;  // "Соединить"
    QTimer* Timer1 = nullptr;        // supervision, every 20 ms

    // Shows the dialogue modally on the open port; false when it ended
    // cancelled (the port is then closed).
    bool runDialogue();
    // Back to command mode and on-hook, through the still open port. The
    // window keeps repainting meanwhile, but takes no input.
    void HangUp();

public slots:
    void Button2Click();
    void Timer1Timer();
    void Button1Click();

protected:
    // The close box (and Escape) cancel as Button1 does, so the connection
    // always finds the port closed after a cancelled dialogue.
    void reject() override;

private:
    TMain* m_main;
    std::unique_ptr<zrv::modem::ModemDialogue> m_dialogue;
    bool m_cancelling = false;
};
