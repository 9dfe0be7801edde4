#pragma once
// "Удаленное подключение": dials the device through a Hayes modem on the open
// port, watches the answer and reports it; hangs up on disconnection.

#ifndef ZRV_UI_MODEM
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "session/Session.h"
#include "windowbase/SettingsFile.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>


class TConnectModem : public QDialog {
    Q_OBJECT
public:
    TConnectModem(QWidget* main, const zrv::Settings& settings, zrv::Session& session);

    QPushButton* Button1 = nullptr;  // "Отмена"
    QFrame* Bevel1 = nullptr;
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLineEdit* Number = nullptr;
    QLabel* State = nullptr;
    QPushButton* Button2 = nullptr;  // "Соединить"
    const QTimer* Timer1 = nullptr;  // the session's supervision, every 20 ms

    // A connection through the modem: the dialogue shows, modally, once the
    // session has opened the port for dialling; it ends accepted on a
    // connection, or cancelled (the session then closes the port).
    void follow(zrv::ConnectReply* connection);
    void runDialogue();
    // The next dialogue dials the number at once, as if "Соединить" were
    // pressed (a connection asked for on the command line).
    void dialWhenShown() { m_dialWhenShown = true; }
    // The number the next dialogue offers, as the operator would type it.
    void setNumber(const QString& number) { Number->setText(number); }
    QString number() const { return Number->text(); }

public slots:
    void Button2Click();
    void Button1Click();
    // The session's word on the dial: CONNECT or carrier, or why not.
    void DialResult(bool success, const QString& state);

protected:
    // The close box (and Escape) cancel as Button1 does, so the connection
    // always finds the port closed after a cancelled dialogue.
    void reject() override;

private:
    zrv::Session& m_session;
    bool m_cancelling = false;
    bool m_dialWhenShown = false;
};
