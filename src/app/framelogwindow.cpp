#include "app/framelogwindow.h"

#include "app/frmmain.h"

#include <QAction>
#include <QBrush>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace {
constexpr int kColumns = 5;
constexpr int kMeaningColumn = 3;
} // namespace

FrameLogModel::FrameLogModel(FrameLog &log, QObject *parent) : QAbstractTableModel(parent), m_log(log)
{
    m_shownEnd = m_log.firstSeq();
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefresh);
    QObject::connect(&m_refresh, &QTimer::timeout, this, [this] { refresh(); });
    refresh();
    m_log.setListener([this](quint64) { added(); });
}

FrameLogModel::~FrameLogModel()
{
    m_log.setListener({});
}

int FrameLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int FrameLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant FrameLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_rows.size())
        return {};
    const FrameRecord &r = m_log.at(m_rows[size_t(index.row())]);
    if (role == Qt::DisplayRole)
        return RecordField(r, index.column());
    if (role == Qt::ForegroundRole && r.fault)
        return QBrush(Qt::red);
    if (role == Qt::FontRole && index.column() == 2)
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    return {};
}

QVariant FrameLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const names[kColumns] = {"时间", "方向", "字节", "含义", "间隔"};
    return section >= 0 && section < kColumns ? QString::fromUtf8(names[section]) : QVariant();
}

void FrameLogModel::added()
{
    dropOld();
    if (!m_paused && !m_refresh.isActive())
        m_refresh.start();
}

// Rows whose records the ring has dropped go at once: their places hold newer records.
void FrameLogModel::dropOld()
{
    const quint64 first = m_log.firstSeq();
    size_t dropped = 0;
    while (dropped < m_rows.size() && m_rows[dropped] < first)
        ++dropped;
    if (dropped > 0) {
        beginRemoveRows({}, 0, int(dropped) - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + qsizetype(dropped));
        endRemoveRows();
    }
    m_shownEnd = std::max(m_shownEnd, first);
}

void FrameLogModel::refresh()
{
    m_refresh.stop();
    dropOld();
    if (m_paused)
        return;
    std::vector<quint64> fresh;
    for (; m_shownEnd < m_log.endSeq(); ++m_shownEnd)
        if (Passes(m_log.at(m_shownEnd), m_filter))
            fresh.push_back(m_shownEnd);
    if (fresh.empty())
        return;
    const int at = int(m_rows.size());
    beginInsertRows({}, at, at + int(fresh.size()) - 1);
    m_rows.insert(m_rows.end(), fresh.begin(), fresh.end());
    endInsertRows();
}

void FrameLogModel::setFilter(const LogFilter &filter)
{
    beginResetModel();
    m_filter = filter;
    const quint64 end = m_shownEnd;
    m_rows.clear();
    for (quint64 s = m_log.firstSeq(); s < end; ++s)
        if (Passes(m_log.at(s), m_filter))
            m_rows.push_back(s);
    endResetModel();
}

void FrameLogModel::setPaused(bool paused)
{
    m_paused = paused;
    if (!paused)
        refresh();
}

void FrameLogModel::clear()
{
    beginResetModel();
    m_log.clear();
    m_rows.clear();
    m_shownEnd = m_log.endSeq();
    endResetModel();
}

FrameLogWindow::FrameLogWindow(FrameLog &log, LogFileDialog &dialog, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_dialog(dialog), m_model(log)
{
    setObjectName(QStringLiteral("FrameLogWindow"));
    setWindowTitle(QStringLiteral("通信记录"));
    resize(1280, 600);
    directionBox = new QComboBox(this);
    directionBox->addItems({QStringLiteral("全部"), QStringLiteral("发送"), QStringLiteral("接收")});
    kindBox = new QComboBox(this);
    kindBox->addItems({QStringLiteral("全部"), QStringLiteral("状态"), QStringLiteral("继电器"), QStringLiteral("写入"),
                       QStringLiteral("读取"), QStringLiteral("时钟"), QStringLiteral("仅故障")});
    searchEdit = new QLineEdit(this);
    searchEdit->setPlaceholderText(QStringLiteral("查找"));
    searchEdit->setClearButtonEnabled(true);
    pauseButton = new QPushButton(QStringLiteral("暂停"), this);
    pauseButton->setCheckable(true);
    clearButton = new QPushButton(QStringLiteral("清空"), this);
    saveButton = new QPushButton(QStringLiteral("保存…"), this);
    table = new QTableView(this);
    table->setModel(&m_model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    // Per pixel: per item, the view walks every row to lay out its scroll bar.
    table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table->verticalHeader()->hide();
    // Fixed row heights: a new row costs the view nothing but the row itself.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    table->horizontalHeader()->setStretchLastSection(false);
    // The bytes column fits a frame of two-digit bytes whole.
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int widths[kColumns] = {
        100, 48, fixed.horizontalAdvance(QString(22, u'F') + QString(44, u' ') + QString(22, u',')) + 12, 360, 70};
    for (int c = 0; c < kColumns; ++c)
        table->setColumnWidth(c, widths[c]);
    table->horizontalHeader()->setSectionResizeMode(kMeaningColumn, QHeaderView::Stretch);
    note = new QLabel(this);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("方向"), this));
    bar->addWidget(directionBox);
    bar->addWidget(new QLabel(QStringLiteral("类别"), this));
    bar->addWidget(kindBox);
    bar->addWidget(searchEdit, 1);
    bar->addWidget(pauseButton);
    bar->addWidget(clearButton);
    bar->addWidget(saveButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(table, 1);
    layout->addWidget(note);

    connect(directionBox, &QComboBox::currentIndexChanged, this, &FrameLogWindow::filterChanged);
    connect(kindBox, &QComboBox::currentIndexChanged, this, &FrameLogWindow::filterChanged);
    connect(searchEdit, &QLineEdit::textChanged, this, &FrameLogWindow::filterChanged);
    connect(pauseButton, &QPushButton::toggled, this, [this](bool on) {
        m_model.setPaused(on);
        updateNote();
    });
    connect(clearButton, &QPushButton::clicked, this, [this] {
        m_model.clear();
        updateNote();
    });
    connect(saveButton, &QPushButton::clicked, this, &FrameLogWindow::save);
    connect(&m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, &FrameLogWindow::followNewest);
    // The count goes in the title: a label that changes with every refresh costs a repaint of its own.
    connect(&m_model, &QAbstractItemModel::rowsInserted, this,
            [this] { setWindowTitle(QStringLiteral("通信记录（%1 条）").arg(m_model.rowCount())); });
    connect(&m_model, &QAbstractItemModel::modelReset, this, &FrameLogWindow::updateNote);
    table->scrollToBottom();
    updateNote();
}

// Follow the newest row while the view is at the bottom; leave it where the operator scrolled.
void FrameLogWindow::followNewest()
{
    const QScrollBar *s = table->verticalScrollBar();
    if (s->value() >= s->maximum() - 1)
        QMetaObject::invokeMethod(table, &QTableView::scrollToBottom, Qt::QueuedConnection);
}

void FrameLogWindow::filterChanged()
{
    LogFilter f;
    f.sent = directionBox->currentIndex() != 2;
    f.received = directionBox->currentIndex() != 1;
    f.kind = KindFilter(kindBox->currentIndex());
    f.text = searchEdit->text().trimmed();
    m_model.setFilter(f);
    table->scrollToBottom();
}

void FrameLogWindow::save()
{
    const QString path = m_dialog.saveFileName(this);
    if (path.isEmpty())
        return;
    const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.write(LogText(m_log, m_model.filter(), csv).toUtf8()) >= 0 && file.commit();
    m_saved = ok ? QStringLiteral("已保存：") + path : QStringLiteral("保存失败：") + file.errorString();
    updateNote();
}

void FrameLogWindow::updateNote()
{
    setWindowTitle(QStringLiteral("通信记录（%1 条）").arg(m_model.rowCount()));
    QString text = QStringLiteral("最多保留 %1 条").arg(FrameLog::kCapacity);
    if (pauseButton->isChecked())
        text += QStringLiteral("　已暂停，%1 条待显示").arg(m_model.heldBack());
    if (!m_saved.isEmpty())
        text += QStringLiteral("　") + m_saved;
    note->setText(text);
}

void AddFrameLogTool(Frmmain &window, FrameLog &log, LogFileDialog &dialog)
{
    window.setFrameSink([&log](const FrameRecord &r) { log.recorded(r); });
    window.toolsMenu()->addSeparator();
    QAction *action = window.toolsMenu()->addAction(QStringLiteral("通信记录"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    QObject::connect(action, &QAction::triggered, &window, [&window, &log, &dialog] {
        QWidget *shown = window.findChild<QWidget *>(QStringLiteral("FrameLogWindow"), Qt::FindDirectChildrenOnly);
        if (!shown) {
            shown = new FrameLogWindow(log, dialog, &window);
            // A network board's frames come from its bridge while the log is open.
            struct Visibility final : QObject {
                Frmmain &w;
                explicit Visibility(Frmmain &window, QObject *parent) : QObject(parent), w(window) {}
                bool eventFilter(QObject *, QEvent *e) override
                {
                    if (e->type() == QEvent::Show || e->type() == QEvent::Hide)
                        w.setFramesWanted(e->type() == QEvent::Show);
                    return false;
                }
            };
            shown->installEventFilter(new Visibility(window, shown));
        }
        shown->show();
        shown->raise();
        shown->activateWindow();
    });
}

QString QtLogFileDialog::saveFileName(QWidget *parent)
{
    const QString csv = QStringLiteral("CSV (*.csv)");
    QString chosen;
    QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("保存通信记录"), QStringLiteral("通信记录.txt"),
                                                QStringLiteral("文本，制表符分隔 (*.txt);;") + csv, &chosen);
    // The CSV filter chosen names a CSV file, whatever the name typed.
    if (!path.isEmpty() && chosen == csv && !path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        path += QStringLiteral(".csv");
    return path;
}
