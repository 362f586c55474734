#include "ui/dialogs/log_viewer.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "orchestration/statistics_owner.h"
#include "ui/dialogs/ns_chart_ctrl.h"
#include "ui/widgets/flat_button.h"
#include "ui/widgets/plain_label.h"

#include <QCheckBox>

namespace tn::ui {

namespace {

namespace id = ids::log_viewer;

const QColor kBackground(70, 100, 200);
const QColor kFace(200, 200, 210);
const QColor kText(255, 255, 255);
// Upload, download and total of the TOTAL row.
const QColor kTotalColours[3] = {QColor(215, 0, 21), QColor(62, 128, 21), QColor(0, 0, 0)};

enum class Kind { Chart, Check, Button, Label, Separator };

// Every control but the table rows, in dialog units.
struct ControlDef {
    int id;
    Kind kind;
    const char* text;
    int x, y, cx, cy;
    const char* accessibleName;
};
constexpr ControlDef kControls[] = {
    {id::kChart, Kind::Chart, HistoryTable::kInitialTitle, 4, 4, 322, 112, "Traffic chart"},
    {id::kShowMonths, Kind::Check, "Show months", 6, 121, 66, 10, "Show months"},
    {0, Kind::Label, "Upload", 94, 122, 74, 9, "Upload"},
    {0, Kind::Label, "Download", 172, 122, 74, 9, "Download"},
    {0, Kind::Label, "Total", 250, 122, 74, 9, "Total"},
    {0, Kind::Separator, "", 6, 221, 318, 1, "Separator"},
    {id::kDone, Kind::Button, "Done", 272, 240, 52, 14, "Done"},
};
constexpr int kDialogWidth = 330;
constexpr int kDialogHeight = 258;
// The table: a label column and three value columns; the TOTAL row sits below the separator.
constexpr int kLabelX = 6;
constexpr int kLabelWidth = 86;
constexpr int kCellX[3] = {94, 172, 250};
constexpr int kCellWidth = 74;
constexpr int kRowHeight = 9;
constexpr int kFirstRowY = 132;
constexpr int kRowStep = 11;
constexpr int kTotalRowY = 224;

QString cellName(const QString& row, int column) {
    return row + ' ' + QString::fromLatin1(kHistoryColumns[column]);
}

} // namespace

CLogViewer::CLogViewer(CGlobal& global, const IClock& clock, IStatisticsOwner* stats,
                       QWidget* parent)
    : CBitmapDlg(parent), m_global(global), m_stats(stats), m_table(clock) {
    setAccessibleName("Traffic history");
    buildControls();
    m_chart->setChartPalette(2);
    m_chart->setChartKind(ChartModel::kDrawBars);
    const auto records = snapshot();
    fillChart(records ? &*records : nullptr);
    fillTable(records ? &*records : nullptr);
}

void CLogViewer::buildControls() {
    setColours(kBackground, kFace, kText);
    QFont f = font();
    f.setFamilies({"Verdana"});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    setFont(f);
    setDialogUnitSize(kDialogWidth, kDialogHeight);

    auto place = [this](QWidget* w, int controlId, int x, int y, int cx, int cy,
                        const QString& name) {
        w->setGeometry(dialogRect(x, y, cx, cy));
        w->setAccessibleName(name);
        if (controlId != 0) {
            w->setObjectName(QString::number(controlId));
            m_controls.insert(controlId, w);
        }
    };
    for (const ControlDef& c : kControls) {
        const QString text = QString::fromLatin1(c.text);
        QWidget* w = nullptr;
        switch (c.kind) {
        case Kind::Chart:
            m_chart = new CNSChartCtrl(this);
            m_chart->setWindowTitle(text);
            w = m_chart;
            break;
        case Kind::Check:
            m_showMonths = new QCheckBox(text, this);
            w = m_showMonths;
            break;
        case Kind::Button: {
            auto* b = new CFlatButton(text, this);
            b->setDefault(true);
            connect(b, &QPushButton::clicked, this, &QDialog::accept);
            w = b;
            break;
        }
        case Kind::Label: {
            auto* l = new CPlainLabel(text, this);
            l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            l->setContentsMargins(0, 0, 3, 0);
            w = l;
            break;
        }
        case Kind::Separator:
            w = new QWidget(this);
            w->setAutoFillBackground(true);
            w->setPalette(QPalette(kText));
            break;
        }
        place(w, c.id, c.x, c.y, c.cx, c.cy, QString::fromLatin1(c.accessibleName));
    }

    for (std::size_t r = 0; r < kHistoryRows.size(); ++r) {
        const HistoryRow& row = kHistoryRows[r];
        const int y =
            r == kHistoryTotalRow ? kTotalRowY : kFirstRowY + static_cast<int>(r) * kRowStep;
        const QString label = QString::fromLatin1(row.label);
        auto* name = new CPlainLabel(label, this);
        place(name, r == kHistoryCustomRow ? id::kCustomName : 0, kLabelX, y, kLabelWidth,
              kRowHeight, label);
        if (r == kHistoryCustomRow)
            m_customName = name;
        const int ids[3] = {row.uploadId, row.downloadId, row.totalId};
        for (int c = 0; c < 3; ++c) {
            auto* cell = new CPlainLabel(HistoryTable::kInitialCell, this);
            cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cell->setContentsMargins(0, 0, 3, 0);
            cell->setAutoFillBackground(true);
            QPalette pal = cell->palette();
            pal.setColor(QPalette::Window, kFace);
            cell->setPalette(pal);
            cell->setTextColor(r == kHistoryTotalRow ? kTotalColours[c] : QColor(Qt::black));
            place(cell, ids[c], kCellX[c], y, kCellWidth, kRowHeight, cellName(label, c));
            m_cells[r][c] = cell;
        }
    }

    connect(m_chart, &CNSChartCtrl::clicked, this,
            [this](int index, const QString&, double) { onChartClicked(index); });
    connect(m_showMonths, &QCheckBox::toggled, this, &CLogViewer::onShowMonths);
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
            m_cells[r][c]->setText(QString::fromStdString(m_table.cell(static_cast<int>(r), c)));
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
    const auto records = snapshot();
    m_table.selectBar(index, records ? &*records : nullptr, m_global.CustField, m_global.CustName1);
    showTable();
}

void CLogViewer::onShowMonths(bool checked) {
    m_chart->clearValues();
    m_chart->update();
    m_table.setDayView(!checked);
    const auto records = snapshot();
    fillChart(records ? &*records : nullptr);
    fillTable(records ? &*records : nullptr);
}

} // namespace tn::ui
