#include "ui/dialogs/apps_dlg.h"

#include "app/control_ids.h"
#include "orchestration/statistics_owner.h"
#include "platform/clock.h"
#include "ui/widgets/control_table.h"

#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

namespace tn::ui {

namespace {

namespace id = ids::apps;
using K = ControlKind;

const QColor kBackground(70, 100, 200);
const QColor kFace(200, 200, 210);
const QColor kText(255, 255, 255);

constexpr ControlSpec kAppsControls[] = {
    {0, K::Label, "View", 6, 6, 30, 10},
    {id::kView, K::Custom, "", 38, 4, 150, 13, "View"},
    {id::kTable, K::Custom, "", 6, 20, 318, 196, "Programs"},
    {id::kDone, K::Button, "Done", 272, 222, 52, 14},
};
constexpr int kDialogWidth = 330;
constexpr int kDialogHeight = 240;
const char* const kColumns[] = {"Program", "Download", "Upload", "Total"};

} // namespace

CAppsDlg::CAppsDlg(const IClock& clock, IStatisticsOwner* stats, AppsSelection selection,
                   QWidget* parent)
    : CBitmapDlg(parent), m_clock(clock), m_stats(stats), m_selection(std::move(selection)) {
    setWindowTitle("Tallynet Applications");
    setAccessibleName("Tallynet Applications");
    setSecondaryLook(kBackground, kFace, kText, kDialogWidth, kDialogHeight);

    ControlTableContext context;
    context.parent = this;
    context.rect = [this](const ControlSpec& c) { return dialogRect(c.x, c.y, c.cx, c.cy); };
    context.custom = [this](const ControlSpec& c) -> QWidget* {
        if (c.id == id::kView)
            return m_view = new QComboBox(this);
        m_table = new QTableWidget(0, 4, this);
        return m_table;
    };
    m_controls = ui::buildControls(kAppsControls, context);

    // The dialog's white text is for its blue ground; the box and the table are light.
    for (QWidget* w : {static_cast<QWidget*>(m_view), static_cast<QWidget*>(m_table)}) {
        QPalette pal = w->palette();
        for (auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
            pal.setColor(role, Qt::black);
        w->setPalette(pal);
    }
    m_view->addItem("Now");
    m_view->addItem("Today");
    if (m_selection.index > 0)
        m_view->addItem(QString::fromStdString(m_selection.title));
    m_view->addItem("This month");
    m_view->setCurrentIndex(m_selection.index > 0 ? 2 : 1);

    QStringList headers;
    for (const char* h : kColumns)
        headers << h;
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 4; ++c)
        m_table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);

    auto* done = static_cast<QPushButton*>(control(id::kDone));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    // However the entry changes (mouse, keys, a screen reader's action), the table follows.
    connect(m_view, &QComboBox::currentIndexChanged, this, [this] { showView(chosen()); });

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &CAppsDlg::refresh);
    m_timer->start();
    refresh();
}

AppsView CAppsDlg::chosen() const {
    const int i = m_view->currentIndex();
    if (i <= 0)
        return AppsView::Now;
    if (i == 1)
        return AppsView::Today;
    if (m_selection.index > 0 && i == 2)
        return AppsView::Selected;
    return AppsView::ThisMonth;
}

void CAppsDlg::refresh() {
    if (m_stats)
        m_model.takeSecond(m_stats->appTotals());
    showView(chosen());
}

void CAppsDlg::showView(AppsView view) {
    const std::optional<AppRecords> records =
        m_stats ? m_stats->appRecords() : std::optional<AppRecords>();
    const auto today = m_clock.toLocal(m_clock.now());
    std::vector<AppsRow> rows;
    if (records && today)
        rows = m_model.rows(view, *records, today->day, today->month, m_selection);
    const bool counting = records.has_value();
    const int n = counting ? static_cast<int>(rows.size()) : 1;
    if (m_table->rowCount() != n)
        m_table->setRowCount(n);
    const auto put = [this](int r, int c, const QString& text) {
        QTableWidgetItem* item = m_table->item(r, c);
        if (!item) {
            item = new QTableWidgetItem;
            item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter
                                          : Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, c, item);
        }
        if (item->text() != text)
            item->setText(text);
    };
    if (!counting) {
        put(0, 0, "Traffic per program is not counted (CountApps=0)");
        for (int c = 1; c < 4; ++c)
            put(0, c, "");
        return;
    }
    for (int r = 0; r < n; ++r) {
        const AppsRow& row = rows[static_cast<std::size_t>(r)];
        put(r, 0, QString::fromStdString(row.name));
        put(r, 1, QString::fromStdString(row.download));
        put(r, 2, QString::fromStdString(row.upload));
        put(r, 3, QString::fromStdString(row.total));
    }
}

} // namespace tn::ui
