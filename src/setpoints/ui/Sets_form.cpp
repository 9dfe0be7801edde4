#include "Sets_form.h"

#include "journal/ReportBuilder.h"
#include "setpoints/SetpointCatalogue.h"
#include "setpoints/SetpointFile.h"
#include "text/Version.h"
#include "windowbase/MessageBox.h"
#include "windowbase/Product.h"

#include <QDateTime>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QLabel>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QLineEdit>
#include <QProxyStyle>
#include <QResizeEvent>

namespace sp = zrv::setpoints;

namespace {

// Where a value cell keeps the row number its edits are reported under.
constexpr int kRowNumberRole = Qt::UserRole + 1;
constexpr int kMarkedRole = Qt::UserRole + 2;

// The value cells' editors: frameless line edits that report each keystroke
// to the window and are not rewritten with the text they already show.
class ValueDelegate : public QStyledItemDelegate {
public:
    ValueDelegate(TSets* sets, std::function<void(QLineEdit*)> typed)
        : QStyledItemDelegate(sets), m_sets(sets), m_typed(std::move(typed))
    {
    }
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        auto* editor = new QLineEdit(parent);
        editor->setFrame(false);
        // Named by its row's caption, as a person would call the field.
        editor->setAccessibleName(index.siblingAtColumn(0).data().toString());
        editor->setObjectName(QStringLiteral("Value%1").arg(index.data(kRowNumberRole).toInt()));
        editor->installEventFilter(m_sets);
        connect(editor, &QLineEdit::textChanged, editor, [this, editor] { m_typed(editor); });
        return editor;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* line = static_cast<QLineEdit*>(editor);
        const QString text = index.data(Qt::EditRole).toString();
        if (line->text() != text) line->setText(text);
    }
    // Every keystroke has already gone into the cell.
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

protected:
    // Tab is the window's (it leaves the table), not the view's "next cell".
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Tab || key == Qt::Key_Backtab) return false;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    TSets* m_sets;
    std::function<void(QLineEdit*)> m_typed;
};
// The platform's tab look with less padding around the captions.
class CompactTabStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_TabBarTabHSpace) return 10;
        if (metric == PM_TabBarTabVSpace) return 4;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};
}  // namespace

TSets::TSets(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Уставки"), "Sets_form", true), m_session(session)
{
    // No maximise box: the window keeps within its size limits.
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    QWidget* client = content();
    client->setMinimumSize(0, 0);

    Tab = new QWidget(client);
    Tab->setObjectName("Tab");
    Tab->setGeometry(0, 0, 332, 205);
    TabBar = new QTabBar(Tab);
    TabBar->setObjectName("TabBar");
    for (const char* t : {"Уставки ПП", "Уставки ОП", "Клапаны", "Параметры", "Журнал"})
        TabBar->addTab(QString::fromUtf8(t));
    TabBar->setExpanding(false);
    TabBar->setDrawBase(true);
    TabBar->setGeometry(0, 0, 332, 21);
    TabBar->setUsesScrollButtons(true);
    TabSet = new QTabBar(Tab);
    TabSet->setObjectName("TabSet");
    for (const char* t : {"PA", "QA", "QM"}) TabSet->addTab(QString::fromUtf8(t));
    TabSet->setExpanding(false);
    TabSet->setGeometry(8, 21, 301, 21);
    // Compact tabs, so all five fit the 332-pixel strip and the sub-tabs
    // sit below the tabs as laid out.
    auto* compact = new CompactTabStyle;
    compact->setParent(this);
    for (QTabBar* bar : {TabBar, TabSet}) bar->setStyle(compact);

    Table = new QTableWidget(0, 2, Tab);
    Table->setObjectName("Table");
    Table->setGeometry(5, 40, 322, 160);
    Table->setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("Значение")});
    Table->verticalHeader()->hide();
    Table->setShowGrid(true);
    Table->setColumnWidth(0, 230);
    Table->setColumnWidth(1, 86);
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->verticalHeader()->setDefaultSectionSize(18);
    Table->setSelectionMode(QAbstractItemView::NoSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Table->setTabKeyNavigation(false);
    Table->setItemDelegateForColumn(1, new ValueDelegate(this, [this](QLineEdit* e) { valueTyped(e); }));

    Upload = new QPushButton(QStringLiteral("Загрузить из ZRV"), client);
    Upload->setObjectName("Upload");
    Upload->setGeometry(8, 224, 137, 25);
    Upload->setEnabled(false);
    Download = new QPushButton(QStringLiteral("Загрузить в  ZRV"), client);
    Download->setObjectName("Download");
    Download->setGeometry(195, 224, 129, 25);
    Download->setFixedWidth(129);
    Download->setEnabled(false);

    FileMenu = new QToolButton(client);
    FileMenu->setObjectName("FileMenu");
    FileMenu->setText(QStringLiteral("Файл"));
    FileMenu->setGeometry(148, 224, 44, 25);
    FileMenu->setPopupMode(QToolButton::InstantPopup);
    FileMenu->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto* fileMenu = new QMenu(FileMenu);
    SaveToFile = fileMenu->addAction(QStringLiteral("Сохранить в файл..."));
    SaveToFile->setObjectName("SaveToFile");
    LoadFromFile = fileMenu->addAction(QStringLiteral("Загрузить из файла..."));
    LoadFromFile->setObjectName("LoadFromFile");
    CompareWithFile = fileMenu->addAction(QStringLiteral("Сравнить с файлом..."));
    CompareWithFile->setObjectName("CompareWithFile");
    CompareWithFile->setEnabled(false);
    FileMenu->setMenu(fileMenu);
    // A disabled item says why it is off when the pointer rests on it.
    fileMenu->setToolTipsVisible(true);
    SaveToFile->setEnabled(false);
    LoadFromFile->setEnabled(false);
    TransferState = new QLabel(client);
    TransferState->setObjectName("TransferState");
    TransferState->setAccessibleDescription(QStringLiteral("Обмен уставками"));
    TransferState->setGeometry(8, 205, 236, 18);
    TransferState->hide();
    TransferStop = new QPushButton(QStringLiteral("Остановить"), client);
    TransferStop->setObjectName("TransferStop");
    TransferStop->setGeometry(248, 204, 76, 19);
    TransferStop->hide();
    connect(TransferStop, &QPushButton::clicked, this, &TSets::stopRequested);
    // `offered`: the file the dialog starts on.
    const auto ask = [this](bool forSaving, const QString& offered = QString()) {
        if (chooseFile) return chooseFile(forSaving);
        const QString filter = QStringLiteral("Уставки ZRV (*.zrvset);;Все файлы (*)");
        QString path = forSaving ? QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить уставки в файл"), QString(), filter)
                                 : QFileDialog::getOpenFileName(this, QStringLiteral("Загрузить уставки из файла"), offered, filter);
        if (forSaving && !path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".zrvset");
        return path;
    };
    connect(SaveToFile, &QAction::triggered, this, [this, ask] {
        const QString path = ask(true);
        if (!path.isEmpty()) saveSetpointFile(path);
    });
    connect(CompareWithFile, &QAction::triggered, this, [this, ask] {
        const QString path = ask(false, m_offeredFile);
        if (!path.isEmpty()) compareWithSetpointFile(path);
    });
    connect(LoadFromFile, &QAction::triggered, this, [this, ask] {
        const QString path = ask(false);
        if (!path.isEmpty()) loadSetpointFile(path);
    });

    connect(TabBar, &QTabBar::currentChanged, this, &TSets::TabChange);
    connect(TabSet, &QTabBar::currentChanged, this, &TSets::TabSetChange);
    connect(Upload, &QPushButton::clicked, this, &TSets::UploadClick);
    connect(Download, &QPushButton::clicked, this, &TSets::DownloadClick);
    connect(&m_session, &zrv::Session::stateChanged, this,
            [this](const zrv::SessionState& state, const zrv::SessionState& before) {
                if (zrv::deviceFound(state, before)) {
                    rememberDeviceSet();
                    BuildTable();
                    m_edited = false;
                }
                SessionStateChange(state);
            });

    setClientSize(332, 257);
    setMinimumSize(100, 210);
    setMaximumSize(350, 500);
    applyPlacement(zrv::placementFor(zrv::ChildWindow::Sets, settings));
    BuildTable();
    Download->setEnabled(false);
    Table->setColumnWidth(0, width() - 110);
    Table->resize(width() - 28, Table->height());
}

bool TSets::connected() const { return m_session.state().connected(); }

void TSets::SessionStateChange(const zrv::SessionState& state)
{
    const bool free = m_session.state().idle();
    Upload->setEnabled(free);
    // A file's set is only worth anything against a device just read.
    SaveToFile->setEnabled(free);
    LoadFromFile->setEnabled(free);
    CompareWithFile->setEnabled(free);
    const QString why = free ? QString() : QStringLiteral("Доступно, когда прибор подключён и не занят обменом");
    SaveToFile->setToolTip(why.isEmpty() ? SaveToFile->text() : why);
    LoadFromFile->setToolTip(why.isEmpty() ? LoadFromFile->text() : why);
    CompareWithFile->setToolTip(why.isEmpty() ? CompareWithFile->text() : why);
    Download->setEnabled(free && m_edited);
    const bool transferring = state.connected() && state.work == zrv::Work::Transfer;
    TransferStop->setVisible(transferring);
    TransferState->setVisible(transferring);
    if (!transferring) TransferState->clear();
}

void TSets::TransferAttempt(int attempt, int attempts)
{
    TransferState->setText(QStringLiteral("%1: попытка %2 из %3")
                               .arg(m_writing ? QStringLiteral("Запись в ZRV") : QStringLiteral("Чтение из ZRV"))
                               .arg(attempt)
                               .arg(attempts));
}

QLineEdit* TSets::valueEditor(int row) const { return qobject_cast<QLineEdit*>(Table->cellWidget(row - 1, 1)); }

void TSets::valueTyped(QLineEdit* editor)
{
    const QModelIndex index = Table->indexAt(editor->geometry().center());
    QTableWidgetItem* item = Table->item(index.row(), 1);
    if (!item) return;
    // The cell's text follows the editor; the editor keeps its cursor since
    // the delegate leaves an equal text alone.
    item->setText(editor->text());
    SetEditText(item->data(kRowNumberRole).toInt(), editor->text());
}

bool TSets::eventFilter(QObject* watched, QEvent* event)
{
    auto* editor = qobject_cast<QLineEdit*>(watched);
    if (editor && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int row = Table->indexAt(editor->geometry().center()).row();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            // As in a grid editor: the editor moves to the row above or below.
            const int to = row + (key == Qt::Key_Up ? -1 : 1);
            if (QLineEdit* next = valueEditor(to + 1)) {
                next->setFocus(Qt::TabFocusReason);
                next->selectAll();
                Table->scrollToItem(Table->item(to, 1));
            }
            return true;
        }
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            // Tab leaves the table for the next control of the window.
            const bool forward = key == Qt::Key_Tab;
            QWidget* w = editor;
            for (int guard = 0; guard < 1000; ++guard) {
                w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
                if (!w || w == editor) break;
                if (w != Table && !Table->isAncestorOf(w) && w->isVisible() && w->isEnabled() &&
                    (w->focusPolicy() & Qt::TabFocus)) {
                    w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
                    break;
                }
            }
            return true;
        }
    }
    return TChildForm::eventFilter(watched, event);
}

void TSets::fillRows(int tab, int subTab, bool bySubTabChange)
{
    Rebuilding = true;
    Table->setRowCount(0);
    // Values as the draft has them: what the table shows is what is written.
    const zrv::RegisterImage& img = m_session.setpointEdits().view();
    int n = 0;
    for (const sp::Row* r : sp::rowsFor(tab, (tab == 0 || tab == 1) ? subTab : sp::kNoSubTab)) {
        Table->insertRow(n);
        auto* name = new QTableWidgetItem(QString::fromStdString(sp::labelFor(*r, bySubTabChange)));
        name->setFlags(Qt::ItemIsEnabled);
        Table->setItem(n, 0, name);
        // The value is the cell's own text, so the table reads as name and
        // value row by row; its editor stays open over it and reports every
        // keystroke.
        auto* value = new QTableWidgetItem(QString::fromStdString(sp::displayText(*r, img)));
        value->setFlags(Qt::ItemIsEnabled | Qt::ItemIsEditable);
        value->setData(kRowNumberRole, r->row);
        Table->setItem(n, 1, value);
        Table->openPersistentEditor(value);
        paintMark(n, *r);
        ++n;
    }
    Rebuilding = false;
}

void TSets::paintMark(int n, const sp::Row& r)
{
    QTableWidgetItem* name = Table->item(n, 0);
    QTableWidgetItem* value = Table->item(n, 1);
    if (!name || !value) return;
    const bool isFloat = r.display == sp::Display::G4 || r.display == sp::Display::Thousandths;
    const bool marked = differs(r.reg, isFloat, r.edit == sp::Edit::Weight);
    if (marked == name->data(kMarkedRole).toBool()) return;
    // A typed or loaded value that the device does not hold yet.
    const QString why = marked ? QStringLiteral("отличается от прибора") : QString();
    for (QTableWidgetItem* item : {name, value}) {
        item->setBackground(marked ? QBrush(QColor(255, 236, 160)) : QBrush());
        item->setData(Qt::AccessibleDescriptionRole, marked ? QVariant(why) : QVariant());
        item->setToolTip(why);
    }
    name->setData(kMarkedRole, marked);
    // The editor stands over the value cell: it carries the mark too.
    if (QLineEdit* e = valueEditor(n + 1)) {
        QPalette p = e->palette();
        p.setColor(QPalette::Base, marked ? QColor(255, 236, 160) : Table->palette().color(QPalette::Base));
        e->setPalette(p);
        e->setAccessibleDescription(why);
    }
}

void TSets::refreshMarks()
{
    m_marks = sp::compareSetpoints(m_session.setpointEdits().viewSet(), m_deviceSet);
    const int tab = TabBar->currentIndex();
    const auto rows = sp::rowsFor(tab, (tab == 0 || tab == 1) ? TabSet->currentIndex() : sp::kNoSubTab);
    for (int n = 0; n < Table->rowCount() && n < int(rows.size()); ++n) paintMark(n, *rows[std::size_t(n)]);
}

void TSets::BuildTable()
{
    const int tab = TabBar->currentIndex();
    TabSet->setVisible(tab == 0 || tab == 1);
    fillRows(tab, TabSet->currentIndex(), false);
}

void TSets::TabChange(int) { BuildTable(); }

void TSets::TabSetChange(int index)
{
    const int tab = TabBar->currentIndex();
    if (tab != 0 && tab != 1) return;
    fillRows(tab, index, true);
}

void TSets::SetEditText(int row, const QString& text)
{
    if (Rebuilding) return;
    const sp::EditResult r = m_session.setpointEdits().apply(TabBar->currentIndex(), TabSet->currentIndex(), row, text.toStdString());
    switch (r.kind) {
    case sp::EditResult::Ignored:
        return;
    case sp::EditResult::NotANumber:
        ShowMessage(QStringLiteral("EConvertError\n") + QString::fromStdString(r.message),
                    QString::fromUtf8(kApplicationTitle));
        return;
    case sp::EditResult::NotAWhole:
        ShowMessage(QString::fromStdString(r.message), QString::fromUtf8(kApplicationTitle));
        return;
    case sp::EditResult::Stored:
        refreshMarks();
        if (connected()) {
            m_edited = true;
            Download->setEnabled(m_session.state().idle());
        }
        return;
    }
}

void TSets::UploadClick()
{
    // Refused while anything else has the line (a journal reading, say).
    if (!m_session.state().idle()) return;
    m_writing = false;
    zrv::SetpointsReply* reply = m_session.ask(sp::Read{});
    connect(reply, &zrv::SetpointsReply::attempt, this, &TSets::TransferAttempt);
    connect(reply, &zrv::SetpointsReply::read, this, &TSets::ReadDone);
}

void TSets::ReadDone(const std::optional<sp::SetpointSet>& set)
{
    if (!set) {
        // Polling stays stopped after a failed read.
        ShowMessage(QStringLiteral("Сбой при чтении данных"), QStringLiteral("Ошибка"));
        return;
    }
    m_deviceSet = *set;
    m_marks.reset();
    BuildTable();
    m_edited = false;
    Download->setEnabled(false);
}

void TSets::DownloadClick()
{
    if (!m_session.state().idle()) return;
    m_edited = false;
    m_writing = true;
    Download->setEnabled(false);
    zrv::SetpointsReply* reply = m_session.ask(sp::Write{});
    connect(reply, &zrv::SetpointsReply::attempt, this, &TSets::TransferAttempt);
    connect(reply, &zrv::SetpointsReply::written, this, &TSets::WriteDone);
}

void TSets::WriteDone(bool written, const QString& refusal)
{
    if (!written) {
        const QString message = refusal.isEmpty() ? QStringLiteral("Сбой при записи данных") : refusal;
        // What the operator typed stays in the table either way. A write that
        // went unanswered is worth a second press as it stands; one the
        // checks refused would be refused again: the button waits for the
        // operator to edit a value.
        m_edited = refusal.isEmpty();
        Download->setEnabled(m_edited && m_session.state().idle());
        ShowMessage(message, QStringLiteral("Ошибка"));
        return;
    }
    m_edited = false;
    // The device holds the set now: nothing differs any more.
    rememberDeviceSet();
    BuildTable();
}

void TSets::rememberDeviceSet()
{
    m_deviceSet = sp::currentSetpoints(m_session.image(), m_session.setpointEdits().weights());
    m_marks.reset();
}

bool TSets::differs(int reg, bool isFloat, bool isWeight) const
{
    if (!m_marks || reg < 0 || reg >= sp::kSetpointRegisters) return false;
    if (isWeight) {
        const int v = reg - zrv::reg::kZrvFactor1;
        return v >= 0 && v < zrv::reg::kValveCount && m_marks->weights[std::size_t(v)];
    }
    return m_marks->holding[std::size_t(reg)] || (isFloat && reg + 1 < sp::kSetpointRegisters && m_marks->holding[std::size_t(reg + 1)]);
}

bool TSets::rowMarked(int row) const
{
    const QTableWidgetItem* item = Table->item(row, 0);
    return item && item->data(kMarkedRole).toBool();
}

bool TSets::saveSetpointFile(const QString& path)
{
    const std::string text = sp::formatSetpointFile(
        m_session.image(), m_session.setpointEdits().weights(), zrv::journal::reportDeviceNumber(m_session.image()),
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")).toStdString(), kZrvVersion);
    return SaveFileOrSay(path, text, QStringLiteral("Не удалось сохранить уставки в файл"));
}

bool TSets::loadSetpointFile(const QString& path)
{
    if (!m_session.state().idle()) {
        // The menu item is off then; this says why to a caller that got here anyway.
        ShowMessage(connected() ? QStringLiteral("Файл уставок не загружен: идёт обмен с прибором, повторите после него.")
                                          : QStringLiteral("Файл уставок не загружен: нет связи с прибором. "
                                                           "Загрузка сравнивает файл с уставками прибора, подключитесь сначала."),
                    QStringLiteral("Ошибка"));
        return false;
    }
    const sp::SetpointFileResult r = sp::readSetpointFile(path.toStdString());
    if (!r.ok) {
        ShowMessage(QStringLiteral("Файл %1 не загружен: %2").arg(path, QString::fromStdString(r.error)),
                    QStringLiteral("Ошибка"));
        return false;
    }
    if (const auto question = sp::otherDeviceQuestion(r, m_session.image(), zrv::journal::reportDeviceNumber(m_session.image()))) {
        if (!AskQuestion(QString::fromStdString(*question), QString::fromUtf8(kApplicationTitle))) return false;
        // The line may have gone while the question was open.
        if (!m_session.state().idle()) return false;
    }
    m_session.setpointEdits().load(r.set);
    BuildTable();
    refreshMarks();
    // A file equal to the device leaves nothing to write.
    m_edited = m_session.setpointEdits().pending();
    Download->setEnabled(m_edited && m_session.state().idle());
    return true;
}

QDialog* TSets::compareWithSetpointFile(const QString& path)
{
    const sp::SetpointFileResult file = sp::readSetpointFile(path.toStdString());
    if (!file.ok) {
        ShowMessage(QStringLiteral("Файл %1 не сравнён: %2").arg(path, QString::fromStdString(file.error)), QStringLiteral("Ошибка"));
        return nullptr;
    }
    // Against the device as last read, not against what is typed meanwhile.
    const std::vector<sp::RowDifference> rows = sp::differingRows(file.set, m_deviceSet);
    auto* box = new QDialog(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Сравнение уставок с файлом"));
    auto* layout = new QVBoxLayout(box);
    auto* summary = new QLabel(rows.empty() ? QStringLiteral("Совпадает с файлом")
                                            : QStringLiteral("Отличается строк: %1 (файл %2)").arg(rows.size()).arg(QFileInfo(path).fileName()),
                               box);
    summary->setObjectName("ComparisonSummary");
    layout->addWidget(summary);
    auto* table = new QTableWidget(int(rows.size()), 3, box);
    table->setObjectName("ComparisonTable");
    table->setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("Прибор"), QStringLiteral("Файл")});
    table->setAccessibleName(QStringLiteral("Отличия от файла"));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    for (int i = 0; i < int(rows.size()); ++i) {
        const sp::RowDifference& d = rows[std::size_t(i)];
        QString where = TabBar->tabText(d.row->tab);
        if (d.row->subTab != sp::kNoSubTab) where += QStringLiteral(" / ") + TabSet->tabText(d.row->subTab);
        table->setItem(i, 0, new QTableWidgetItem(where + QStringLiteral(": ") + QString::fromUtf8(d.row->label)));
        table->setItem(i, 1, new QTableWidgetItem(QString::fromStdString(d.device)));
        table->setItem(i, 2, new QTableWidgetItem(QString::fromStdString(d.file)));
    }
    table->resizeColumnsToContents();
    table->setVisible(!rows.empty());
    layout->addWidget(table);
    auto* close = new QPushButton(QStringLiteral("Закрыть"), box);
    connect(close, &QPushButton::clicked, box, &QDialog::close);
    layout->addWidget(close, 0, Qt::AlignRight);
    box->resize(460, rows.empty() ? 90 : 320);
    box->show();
    return box;
}

void TSets::resizeEvent(QResizeEvent* event)
{
    TChildForm::resizeEvent(event);
    if (!Table) return;
    const int w = width(), h = height();
    Upload->move(Upload->x(), h - 77);
    FileMenu->move(FileMenu->x(), h - 77);
    Download->move(Download->x(), h - 77);
    Table->resize(w - 28, h - 148);
    Tab->resize(w, h - 100);
    TabBar->resize(w, TabBar->height());
    Table->setColumnWidth(0, w - 110);
}
