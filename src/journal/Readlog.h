#pragma once
// Reading the device's journal into the viewer on a worker thread, while the
// progress window shows how far it has got.

#include <QPointer>
#include <QThread>

#include <cstdint>

class TMain;

class TReadLog : public QThread {
    Q_OBJECT
public:
    // Created suspended; start() resumes it. It deletes itself when done.
    explicit TReadLog(TMain* main);

    uint16_t RecordEnd = 0;
    uint16_t RecordStart = 0;

    void Execute();

protected:
    void run() override { Execute(); }

private:
    TMain* m_main;
};

// The reader last started, while it lives.
TReadLog* ReadLogThread();

// "Считать Журнал": pauses polling, finds the newest record, shows the viewer
// and the progress window, takes the commands away and starts the reader.
void N4Click(TMain* main);

// The close sequence: asks the reader to stop and waits for it, letting its
// progress calls through meanwhile so that neither waits on the other.
void stopJournalReaderAndWait();
