#pragma once
// A station's history from the collector's store: P1 and P2 from its journal
// records with the device's own cut-off limits, and its battery voltage and
// clock offset from its calls, over the last 7, 30 or 90 days. Read and
// thinned to the chart's width aside from the window thread.

#ifndef ZRV_UI_STATIONS
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "windowbase/ChildForm.h"

#include <QComboBox>
#include <QLabel>
#include <QLineSeries>
#include <QChartView>

#include <string>
#include <vector>

class TStationHistory : public TChildForm {
    Q_OBJECT
public:
    explicit TStationHistory(QMdiArea* area);

    QComboBox* Span = nullptr;  // "7 дней", "30 дней", "90 дней"
    QLabel* State = nullptr;
    QChartView* Pressures = nullptr;
    QChartView* Battery = nullptr;
    QChartView* Clock = nullptr;

    // The series, for those who read the chart (and the tests).
    QLineSeries *P1 = nullptr, *P2 = nullptr, *P2Max = nullptr, *P2Min = nullptr, *P1Max = nullptr, *P1Min = nullptr;
    QLineSeries *Vbat = nullptr, *ClockOffset = nullptr;

    // Shows `station` of the store at `source` (an SQLite file or a
    // PostgreSQL URL), read anew.
    void showStation(const QString& station, const std::string& source);
    void reload();

    // At most two points a column (the lowest and the highest), so a chart
    // never draws more than its width holds, however long the history.
    static QList<QPointF> thinned(const std::vector<QPointF>& points, qint64 t0, qint64 t1, int columns);

signals:
    // The history has been read and drawn (or why not is shown).
    void drawn();

private:
    QString m_station;
    std::string m_source;
    unsigned m_generation = 0;
};
