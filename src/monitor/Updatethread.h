#pragma once
// One polling step on a short-lived worker: read the live tables, then have
// the window thread show the device number, the measurements and the control
// panel, and run the hold-off counters, in that order.

#include <QThread>

class TMain;
class TMeasure;
class TFront_Panel;

class TUpdate1 : public QThread {
    Q_OBJECT
public:
    // Created running; it deletes itself once Execute has returned.
    static TUpdate1* start(TMain* main, TMeasure* measure, TFront_Panel* panel);

    void Execute();

protected:
    void run() override { Execute(); }

private:
    TUpdate1(TMain* main, TMeasure* measure, TFront_Panel* panel);
    TMain* m_main;
    TMeasure* m_measure;
    TFront_Panel* m_panel;
};
