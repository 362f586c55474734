#include "ui/dialogs/log_viewer.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "orchestration/statistics_owner.h"
#include "ui/dialogs/apps_dlg.h"
#include "ui/dialogs/data_plan_dlg.h"
#include "ui/dialogs/ns_chart_ctrl.h"
#include "ui/widgets/accessibility.h"
#include "ui/widgets/control_table.h"
#include "ui/widgets/plain_label.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace tn::ui {

namespace {

namespace id = ids::log_viewer;

const QColor kBackground(70, 100, 200);
const QColor kFace(200, 200, 210);
const QColor kText(255, 255, 255);

using K = ControlKind;

// Every control in dialog units. The viewer makes the custom ones: the chart, the check box,
// the right-aligned column headers and the separator line (the one without a text).
constexpr ControlSpec kViewerControls[] = {
    {id::kChart, K::Custom, HistoryTable::kInitialTitle, 4, 4, 322, 112, "Traffic chart"},
    {id::kShowMonths, K::Custom, "Show months", 6, 121, 66, 10},
    {0, K::Custom, "Upload", 94, 122, 74, 9},
    {0, K::Custom, "Download", 172, 122, 74, 9},
    {0, K::Custom, "Total", 250, 122, 74, 9},
    {0, K::Label, "Web", 6, 132, 86, 9},
    {id::kWebUpload, K::Label, "...", 94, 132, 74, 9, "Web Upload"},
    {id::kWebDownload, K::Label, "...", 172, 132, 74, 9, "Web Download"},
    {id::kWebTotal, K::Label, "...", 250, 132, 74, 9, "Web Total"},
    {0, K::Label, "Mail", 6, 143, 86, 9},
    {id::kMailUpload, K::Label, "...", 94, 143, 74, 9, "Mail Upload"},
    {id::kMailDownload, K::Label, "...", 172, 143, 74, 9, "Mail Download"},
    {id::kMailTotal, K::Label, "...", 250, 143, 74, 9, "Mail Total"},
    {0, K::Label, "Ftp", 6, 154, 86, 9},
    {id::kFtpUpload, K::Label, "...", 94, 154, 74, 9, "Ftp Upload"},
    {id::kFtpDownload, K::Label, "...", 172, 154, 74, 9, "Ftp Download"},
    {id::kFtpTotal, K::Label, "...", 250, 154, 74, 9, "Ftp Total"},
    {0, K::Label, "Filesharing", 6, 165, 86, 9},
    {id::kFilesharingUpload, K::Label, "...", 94, 165, 74, 9, "Filesharing Upload"},
    {id::kFilesharingDownload, K::Label, "...", 172, 165, 74, 9, "Filesharing Download"},
    {id::kFilesharingTotal, K::Label, "...", 250, 165, 74, 9, "Filesharing Total"},
    {0, K::Label, "News", 6, 176, 86, 9},
    {id::kNewsUpload, K::Label, "...", 94, 176, 74, 9, "News Upload"},
    {id::kNewsDownload, K::Label, "...", 172, 176, 74, 9, "News Download"},
    {id::kNewsTotal, K::Label, "...", 250, 176, 74, 9, "News Total"},
    {0, K::Label, "Udp", 6, 187, 86, 9},
    {id::kUdpUpload, K::Label, "...", 94, 187, 74, 9, "Udp Upload"},
    {id::kUdpDownload, K::Label, "...", 172, 187, 74, 9, "Udp Download"},
    {id::kUdpTotal, K::Label, "...", 250, 187, 74, 9, "Udp Total"},
    {0, K::Label, "Others", 6, 198, 86, 9},
    {id::kOthersUpload, K::Label, "...", 94, 198, 74, 9, "Others Upload"},
    {id::kOthersDownload, K::Label, "...", 172, 198, 74, 9, "Others Download"},
    {id::kOthersTotal, K::Label, "...", 250, 198, 74, 9, "Others Total"},
    {id::kCustomName, K::Label, "Custom", 6, 209, 86, 9},
    {id::kCustomUpload, K::Label, "...", 94, 209, 74, 9, "Custom Upload"},
    {id::kCustomDownload, K::Label, "...", 172, 209, 74, 9, "Custom Download"},
    {id::kCustomTotal, K::Label, "...", 250, 209, 74, 9, "Custom Total"},
    {0, K::Label, "TOTAL", 6, 224, 86, 9},
    {id::kTotalUpload, K::Label, "...", 94, 224, 74, 9, "TOTAL Upload", 0xD70015},
    {id::kTotalDownload, K::Label, "...", 172, 224, 74, 9, "TOTAL Download", 0x3E8015},
    {id::kTotalTotal, K::Label, "...", 250, 224, 74, 9, "TOTAL Total", 0x000000},
    {0, K::Custom, "", 6, 221, 318, 1, "Separator"},
    {id::kDone, K::Button, "Done", 272, 240, 52, 14},
    // Beyond the original window, in the free row beside "Done".
    {id::kShowHours, K::Custom, "Show hours", 6, 242, 66, 10},
    {id::kApplications, K::Button, "Applications", 150, 240, 60, 14},
    {id::kDataPlan, K::Button, "Data plan", 214, 240, 54, 14},
};
constexpr int kDialogWidth = 330;
constexpr int kDialogHeight = 258;

QString cellName(const QString& row, int column) {
    return row + ' ' + QString::fromLatin1(kHistoryColumns[column]);
}

} // namespace

CLogViewer::CLogViewer(CGlobal& global, const IClock& clock, IStatisticsOwner* stats,
                       QWidget* parent)
    : CBitmapDlg(parent), m_global(global), m_clock(clock), m_stats(stats), m_table(clock) {
    setAccessibleName("Traffic history");
    buildControls();
    m_chart->setChartPalette(2);
    m_chart->setChartKind(ChartModel::kDrawBars);
    const auto records = snapshot();
    fillChart(records ? &*records : nullptr);
    fillTable(records ? &*records : nullptr);
}

void CLogViewer::buildControls() {
    setSecondaryLook(kBackground, kFace, kText, kDialogWidth, kDialogHeight);

    ControlTableContext context;
    context.parent = this;
    context.rect = [this](const ControlSpec& c) { return dialogRect(c.x, c.y, c.cx, c.cy); };
    context.custom = [this](const ControlSpec& c) -> QWidget* {
        if (c.id == id::kChart) {
            m_chart = new CNSChartCtrl(this);
            m_chart->setWindowTitle(QString::fromLatin1(c.text));
            return m_chart;
        }
        if (c.id == id::kShowMonths)
            return m_showMonths = new QCheckBox(QString::fromLatin1(c.text), this);
        if (c.id == id::kShowHours)
            return m_showHours = new QCheckBox(QString::fromLatin1(c.text), this);
        if (*c.text != '\0') {
            auto* header = new CPlainLabel(QString::fromLatin1(c.text), this);
            header->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            header->setContentsMargins(0, 0, 3, 0);
            return header;
        }
        auto* line = new QWidget(this);
        line->setAutoFillBackground(true);
        line->setPalette(QPalette(kText));
        return line;
    };
    m_controls = ui::buildControls(kViewerControls, context);

    for (std::size_t r = 0; r < kHistoryRows.size(); ++r) {
        const HistoryRow& row = kHistoryRows[r];
        const int ids[3] = {row.uploadId, row.downloadId, row.totalId};
        for (int c = 0; c < 3; ++c) {
            auto* cell = static_cast<QLabel*>(control(ids[c]));
            cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cell->setContentsMargins(0, 0, 3, 0);
            cell->setAutoFillBackground(true);
            QPalette pal = cell->palette();
            pal.setColor(QPalette::Window, kFace);
            if (r != kHistoryTotalRow)
                pal.setColor(QPalette::WindowText, Qt::black);
            cell->setPalette(pal);
            m_cells[r][c] = cell;
        }
    }
    m_customName = static_cast<QLabel*>(control(id::kCustomName));
    auto* done = static_cast<QPushButton*>(control(id::kDone));
    done->setDefault(true);

    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    connect(static_cast<QPushButton*>(control(id::kApplications)), &QPushButton::clicked, this,
            &CLogViewer::onApplications);
    connect(m_chart, &CNSChartCtrl::clicked, this,
            [this](int index, const QString&, double) { onChartClicked(index); });
    connect(m_showMonths, &QCheckBox::toggled, this, &CLogViewer::onShowMonths);
    connect(m_showHours, &QCheckBox::toggled, this, &CLogViewer::onShowHours);
    connect(static_cast<QPushButton*>(control(id::kDataPlan)), &QPushButton::clicked, this, [this] {
        CDataPlanDlg plan(m_global, m_clock, m_stats, this);
        plan.exec();
    });
}

std::optional<StatRecords> CLogViewer::snapshot() const {
    if (!m_stats)
        return std::nullopt;
    return m_stats->records();
}

void CLogViewer::fillChart(const StatRecords* records) {
    const HistoryChartFill fill = m_table.fillChart(records);
    for (const HistoryChartEntry& e : fill.values)
        m_chart->addValue(e.value, QString::fromStdString(e.label), false);
    if (!fill.values.empty())
        m_chart->setSelectedIndex(fill.selected);
    m_chart->update();
}

void CLogViewer::fillTable(const StatRecords* records) {
    m_table.fillTable(records, m_global.CustField, m_global.CustName1);
    showTable();
}

void CLogViewer::showTable() {
    for (std::size_t r = 0; r < kHistoryRows.size(); ++r)
        for (int c = 0; c < 3; ++c)
            setShownText(m_cells[r][c],
                         QString::fromStdString(m_table.cell(static_cast<int>(r), c)));
    const QString custom = QString::fromStdString(m_table.customLabel());
    if (m_customName->text() != custom) {
        m_customName->setText(custom);
        m_customName->setAccessibleName(custom);
        for (int c = 0; c < 3; ++c)
            m_cells[kHistoryCustomRow][c]->setAccessibleName(cellName(custom, c));
    }
    const QString title = QString::fromStdString(m_table.title());
    if (m_chart->windowTitle() != title)
        m_chart->setWindowTitle(title);
}

void CLogViewer::onChartClicked(int index) {
    if (m_table.hourView()) {
        m_table.selectHour(index, m_global.CustField, m_global.CustName1);
        showTable();
        return;
    }
    const auto records = snapshot();
    m_table.selectBar(index, records ? &*records : nullptr, m_global.CustField, m_global.CustName1);
    showTable();
}

void CLogViewer::onApplications() {
    // The day or month chosen here is one of the window's views.
    AppsSelection selection;
    selection.month = !m_table.dayView();
    selection.index = selection.month ? m_table.selectedMonth() : m_table.selectedDay();
    // Programs are kept per day: the hours' view shows the day's programs.
    const std::string title = m_table.hourView() ? std::string() : m_table.title();
    selection.title = title.empty() || title == HistoryTable::kInitialTitle || title == "n/a"
                          ? (selection.month ? "Month " : "Day ") + std::to_string(selection.index)
                          : title;
    CAppsDlg apps(m_clock, m_stats, selection, this);
    apps.exec();
}

void CLogViewer::onShowMonths(bool checked) {
    if (checked && m_showHours->isChecked()) {
        // One view at a time: leaving the hours refills with the months.
        const QSignalBlocker block(m_showHours);
        m_showHours->setChecked(false);
        m_table.setHourView(false);
    }
    m_chart->clearValues();
    m_chart->update();
    m_table.setDayView(!checked);
    const auto records = snapshot();
    fillChart(records ? &*records : nullptr);
    fillTable(records ? &*records : nullptr);
}

void CLogViewer::onShowHours(bool checked) {
    if (checked && m_showMonths->isChecked()) {
        const QSignalBlocker block(m_showMonths);
        m_showMonths->setChecked(false);
        m_table.setDayView(true);
    }
    m_table.setHourView(checked);
    m_chart->clearValues();
    m_chart->update();
    if (!checked) {
        const auto records = snapshot();
        fillChart(records ? &*records : nullptr);
        fillTable(records ? &*records : nullptr);
        return;
    }
    const std::optional<HourRecords> hours =
        m_stats ? std::optional<HourRecords>(m_stats->hours()) : std::nullopt;
    const HistoryChartFill fill =
        m_table.fillHourChart(hours ? &*hours : nullptr, m_global.CustField, m_global.CustName1);
    for (const HistoryChartEntry& e : fill.values)
        m_chart->addValue(e.value, QString::fromStdString(e.label), false);
    if (!fill.values.empty())
        m_chart->setSelectedIndex(fill.selected);
    m_chart->update();
    showTable();
}

} // namespace tn::ui
