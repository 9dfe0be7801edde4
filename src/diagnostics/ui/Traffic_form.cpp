#include "Traffic_form.h"

#include "windowbase/MessageBox.h"
#include "windowbase/Preferences.h"
#include "windowbase/Text.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>

namespace zrv::diagnostics {

void TrafficModel::append(TrafficRow row)
{
    const int at = int(m_log.size());
    // The row that will go to make room leaves first, so that views and
    // proxies see one consistent change at a time.
    if (m_log.size() >= m_log.capacity()) {
        beginRemoveRows({}, 0, 0);
        m_log.dropOldest();
        endRemoveRows();
        beginInsertRows({}, at - 1, at - 1);
        m_log.append(std::move(row));
        endInsertRows();
        return;
    }
    beginInsertRows({}, at, at);
    m_log.append(std::move(row));
    endInsertRows();
}

void TrafficModel::clear()
{
    beginResetModel();
    m_log.clear();
    endResetModel();
}

int TrafficModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_log.size()); }

int TrafficModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columnCaptions().size());
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_log.size())) return {};
    const TrafficRow& row = m_log.at(std::size_t(index.row()));
    const TransactionRecord& r = row.record;
    if (role == kOutcomeRole) return int(r.outcome);
    if (role == Qt::ForegroundRole && r.outcome != TransactOutcome::Ok && index.column() == 6)
        return QColor(Qt::darkRed);
    // A long reply is cut off in its cell; the tip shows it whole.
    if (role == Qt::ToolTipRole && (index.column() == 4 || index.column() == 5))
        return uiText(hexBytes(index.column() == 4 ? r.request : r.reply));
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    switch (index.column()) {
    case 0: return uiText(clockText(row.at));
    case 1: return int(r.slave);
    case 2: return int(r.function);
    case 3: return uiText(requestSummary(r.function, r.start, r.countOrValue));
    case 4: return uiText(hexBytes(r.request));
    case 5: return uiText(hexBytes(r.reply));
    case 6: return uiText(outcomeText(r));
    case 7: return uiText(durationText(r.duration));
    }
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < int(columnCaptions().size()))
        return uiText(columnCaptions()[std::size_t(section)]);
    if (orientation == Qt::Vertical) return section + 1;
    return {};
}

}  // namespace zrv::diagnostics

using zrv::diagnostics::TrafficModel;
using zrv::diagnostics::TrafficRow;

TTrafficMonitor::TTrafficMonitor(QMdiArea* area, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Монитор обмена"), "Traffic_form", true)
{
    QWidget* client = content();
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    auto* bar = new QHBoxLayout;
    ErrorsOnly = new QCheckBox(QStringLiteral("Только ошибки"), client);
    ErrorsOnly->setObjectName("ErrorsOnly");
    Pause = new QPushButton(QStringLiteral("Пауза"), client);
    Pause->setObjectName("Pause");
    Pause->setCheckable(true);
    Clear = new QPushButton(QStringLiteral("Очистить"), client);
    Clear->setObjectName("Clear");
    Save = new QPushButton(QStringLiteral("Сохранить..."), client);
    Save->setObjectName("Save");
    bar->addWidget(ErrorsOnly);
    bar->addStretch(1);
    bar->addWidget(Pause);
    bar->addWidget(Clear);
    bar->addWidget(Save);
    layout->addLayout(bar);

    m_filter.setSourceModel(&m_model);
    m_filter.setFilterRole(TrafficModel::kOutcomeRole);
    m_filter.setFilterKeyColumn(0);
    // Errors are every outcome but OK (0).
    m_filter.setFilterRegularExpression(QString());
    Table = new QTableView(client);
    Table->setObjectName("Table");
    Table->setModel(&m_filter);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setWordWrap(false);
    Table->verticalHeader()->setVisible(false);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 4);
    Table->horizontalHeader()->setStretchLastSection(false);
    const int digit = Table->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {12, 5, 7, 18, 24, 30, 14, 6};
    for (int c = 0; c < 8; ++c) Table->setColumnWidth(c, widths[c] * digit + 12);
    layout->addWidget(Table, 1);

    Counts = new QLabel(client);
    Counts->setObjectName("Counts");
    Counts->setAccessibleDescription(QStringLiteral("Итоги по исходам"));
    layout->addWidget(Counts);

    ErrorsOnly->setChecked(zrv::prefs::value(QLatin1String(zrv::prefs::kMonitorErrorsOnly), false).toBool());
    const auto applyFilter = [this](bool errorsOnly) {
        m_filter.setFilterRegularExpression(errorsOnly ? QStringLiteral("^[1-9]$") : QString());
    };
    applyFilter(ErrorsOnly->isChecked());
    connect(ErrorsOnly, &QCheckBox::toggled, this, [applyFilter](bool on) {
        applyFilter(on);
        zrv::prefs::setValue(QLatin1String(zrv::prefs::kMonitorErrorsOnly), on);
    });
    connect(Pause, &QPushButton::toggled, this, &TTrafficMonitor::setPaused);
    connect(Clear, &QPushButton::clicked, this, [this] {
        m_model.clear();
        m_held.clear();
        showCounts();
    });
    connect(Save, &QPushButton::clicked, this, [this] {
        QString path;
        if (chooseFile) {
            path = chooseFile();
        } else {
            path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить обмен как..."), QString(),
                                                QStringLiteral("Текст (*.txt)"));
            if (!path.isEmpty() && !path.contains(QLatin1Char('.'))) path += QStringLiteral(".txt");
        }
        if (!path.isEmpty()) saveTo(path);
    });
    connect(&session, &zrv::Session::transaction, this, &TTrafficMonitor::takeRecord);

    showCounts();
    setAsideAsTool({920, 360}, {0, 0});
}

void TTrafficMonitor::takeRecord(const zrv::TransactionRecord& record)
{
    // The record's own steady-clock start, told as wall-clock time.
    const auto age = std::chrono::steady_clock::now() - record.started;
    TrafficRow row{std::chrono::system_clock::now() - std::chrono::duration_cast<std::chrono::system_clock::duration>(age),
                   record};
    // Paused, or put aside: the row is only kept (bounded like the table),
    // and nothing is laid out or counted until the window shows again.
    if (m_paused || !isVisible()) {
        m_held.push_back(std::move(row));
        if (m_held.size() > m_model.log().capacity()) m_held.pop_front();
        if (m_paused && isVisible()) showCounts();
        return;
    }
    QScrollBar* v = Table->verticalScrollBar();
    const bool atBottom = v->value() >= v->maximum() - 2;
    m_model.append(std::move(row));
    showCounts();
    // Follows the newest row unless the operator scrolled up to read.
    if (atBottom && isVisible()) Table->scrollToBottom();
}

void TTrafficMonitor::setPaused(bool paused)
{
    m_paused = paused;
    Pause->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    if (paused) return;
    takeHeld();
    if (isVisible()) Table->scrollToBottom();
}

void TTrafficMonitor::takeHeld()
{
    while (!m_held.empty()) {
        m_model.append(std::move(m_held.front()));
        m_held.pop_front();
    }
    showCounts();
}

void TTrafficMonitor::showCounts()
{
    QString text = QString::fromStdString(m_model.log().countsText());
    if (m_paused && !m_held.empty()) text += QStringLiteral("   (ждут паузы: %1)").arg(m_held.size());
    Counts->setText(text);
}

bool TTrafficMonitor::saveTo(const QString& path)
{
    if (!m_paused) takeHeld();  // what came while the window was aside
    std::string out;
    for (const std::string& c : zrv::diagnostics::columnCaptions()) out += (out.empty() ? "" : "\t") + c;
    out += "\n";
    for (int i = 0; i < m_filter.rowCount(); ++i) {
        const int source = m_filter.mapToSource(m_filter.index(i, 0)).row();
        out += zrv::diagnostics::rowLine(m_model.log().at(std::size_t(source))) + "\n";
    }
    return SaveFileOrSay(path, out, QStringLiteral("Не удалось сохранить файл"));
}

void TTrafficMonitor::showEvent(QShowEvent* event)
{
    TChildForm::showEvent(event);
    if (!m_paused) takeHeld();
    Table->scrollToBottom();  // the newest rows, which came while it was hidden
}
