#include "ui/dialogs/netfalls_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "platform/clock.h"
#include "ui/dialogs/dialog_layout.h"
#include "ui/widgets/accessibility.h"
#include "ui/widgets/artwork.h"
#include "ui/widgets/bitmap_dlg.h"
#include "ui/widgets/control_table.h"
#include "ui/widgets/screen_fit.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTableView>
#include <QUrl>

namespace tn::ui {

namespace {

using K = ControlKind;
namespace id = tn::ids::netfalls;

constexpr int kListId = id::kList;
constexpr int kWidth = 340;
constexpr int kHeight = 250;

constexpr ControlSpec kControls[] = {
    {0, K::Group, "Filters", 4, 158, 230, 88, nullptr},
    {id::kFilter, K::ListCombo, "", 10, 172, 80, 60, "Filter"},
    {id::kMoreFrame, K::Group, "", 96, 164, 134, 78, "More filters"},
    {id::kStartLabel, K::Label, "Start :", 100, 175, 28, 8, nullptr},
    {id::kStartDate, K::DatePicker, "", 130, 173, 60, 12, "Start :"},
    {id::kStopLabel, K::Label, "Stop :", 100, 191, 28, 8, nullptr},
    {id::kStopDate, K::DatePicker, "", 130, 189, 60, 12, "Stop :"},
    {id::kMinDurationLabel, K::Label, "TimeSpan over :", 100, 207, 54, 8, nullptr},
    {id::kMinDuration, K::DigitEdit, "", 156, 205, 30, 12, "TimeSpan over : seconds"},
    {id::kSecondsLabel, K::Label, "seconds", 190, 207, 30, 8, nullptr},
    {id::kSort, K::Button, "Sort", 194, 173, 32, 12, nullptr},
    {0, K::Group, "Total", 238, 158, 98, 62, nullptr},
    {0, K::Label, "Total Net Falls :", 242, 172, 56, 8, nullptr},
    {id::kCount, K::Label, "..", 300, 172, 34, 8, "Total Net Falls"},
    {0, K::Label, "Total Time :", 242, 188, 46, 8, nullptr},
    {id::kDuration, K::Label, "..", 288, 188, 46, 8, "Total Time"},
    {id::kExport, K::Button, "Export", 240, 228, 46, 14, nullptr},
    {id::kOk, K::Button, "OK", 290, 228, 46, 14, nullptr},
};

constexpr int kMoreFilterIds[] = {id::kStartDate,   id::kStopDate,     id::kSort,
                                  id::kStartLabel,  id::kStopLabel,    id::kMinDurationLabel,
                                  id::kMinDuration, id::kSecondsLabel, id::kMoreFrame};

QDate dateOf(const LocalTime& lt) {
    return QDate(lt.year, lt.month, lt.day);
}

CalendarDate calendarDate(const QDate& d) {
    return {d.year(), d.month(), d.day()};
}

} // namespace

OutageTableModel::OutageTableModel(const IClock& clock, QObject* parent)
    : QAbstractTableModel(parent), m_clock(clock) {}

void OutageTableModel::setRows(std::vector<OutageRecord> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int OutageTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int OutageTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kOutageColumnHeadings.size());
}

QVariant OutageTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole) {
        const auto row = static_cast<std::size_t>(index.row());
        return QString::fromStdString(outageCell(m_rows[row], row, index.column(), m_clock));
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QVariant OutageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return QString(kOutageColumnHeadings[static_cast<std::size_t>(section)]);
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

CNetFalls::CNetFalls(CGlobal& global, const IClock& clock, QWidget* parent, NetFallsHooks h)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      hooks(std::move(h)), m_global(global), m_clock(clock) {
    setWindowTitle(kTitle);
    setModal(true);
    setDialogFont(this);
    const qreal dpi = dialogDpi(this);
    setFixedSize(dialogUnitsToPixelsX(kWidth, dpi), dialogUnitsToPixelsY(kHeight, dpi));
    m_controls = buildDialogControls(this, kControls);
    static_cast<QPushButton*>(control(id::kOk))->setDefault(true);

    m_list = new QTableView(this);
    m_list->setGeometry(dialogUnitRect(4, 4, kWidth - 8, 150, dpi));
    m_list->setObjectName(QString::number(kListId));
    m_list->setAccessibleName("Net falls");
    m_model = new OutageTableModel(m_clock, this);
    m_list->setModel(m_model);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setShowGrid(true);
    m_list->setWordWrap(false);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    // Fixed row heights: the view never measures 100,000 rows.
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setStretchLastSection(false);
    for (std::size_t c = 0; c < kOutageColumnWidths.size(); ++c)
        m_list->setColumnWidth(static_cast<int>(c), kOutageColumnWidths[c]);
    QPalette pal = m_list->palette();
    const QColor grey(165, 165, 165);
    pal.setColor(QPalette::Base, grey);
    pal.setColor(QPalette::AlternateBase, grey);
    pal.setColor(QPalette::Text, Qt::black);
    m_list->setPalette(pal);

    auto* picture = new QLabel(this);
    picture->setPixmap(art::appIcon().pixmap(48, 48));
    picture->setGeometry(dialogUnitRect(20, 196, 40, 36, dpi));
    picture->setAlignment(Qt::AlignCenter);
    picture->setAccessibleName("Tallynet");

    auto* filter = static_cast<QComboBox*>(control(id::kFilter));
    for (const char* name : kOutageFilterNames)
        filter->addItem(name);
    static_cast<QLineEdit*>(control(id::kMinDuration))->setText(QString::number(m_minDuration));
    const std::optional<LocalTime> now = m_clock.toLocal(m_clock.now());
    for (int dateId : {id::kStartDate, id::kStopDate}) {
        auto* picker = static_cast<QDateEdit*>(control(dateId));
        picker->setDisplayFormat("dd/MM/yyyy");
        picker->setCalendarPopup(true);
        if (now)
            picker->setDate(dateOf(*now));
    }
    filter->setCurrentIndex(0);
    setMoreFiltersVisible(false);

    if (!hooks.chooseExportFile)
        hooks.chooseExportFile = [this] {
            // The desktop's dialog asks before it lets an existing file be replaced.
            return QFileDialog::getSaveFileName(
                this, QString(), QString::fromStdString(m_global.moduleDirectory().string()),
                "Text file (*.txt)");
        };
    if (!hooks.confirmSetAside)
        hooks.confirmSetAside = [this] {
            QMessageBox box(QMessageBox::Warning, "Error", kInvalidOutageFileQuestion,
                            QMessageBox::Yes | QMessageBox::No, this);
            box.setObjectName("invalidOutageFile");
            return box.exec() == QMessageBox::Yes;
        };
    if (!hooks.openExported)
        hooks.openExported = [](const QString& path) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        };

    connect(filter, &QComboBox::currentIndexChanged, this, &CNetFalls::onFilterChanged);
    connect(static_cast<QPushButton*>(control(id::kSort)), &QPushButton::clicked, this,
            &CNetFalls::loadList);
    connect(static_cast<QPushButton*>(control(id::kExport)), &QPushButton::clicked, this,
            &CNetFalls::exportList);
    connect(static_cast<QPushButton*>(control(id::kOk)), &QPushButton::clicked, this,
            &QDialog::accept);

    loadList();
}

void CNetFalls::setMoreFiltersVisible(bool visible) {
    for (int i : kMoreFilterIds)
        control(i)->setVisible(visible);
}

void CNetFalls::onFilterChanged(int index) {
    const bool more = index == static_cast<int>(OutageFilter::MoreFilters);
    setMoreFiltersVisible(more);
    if (!more)
        loadList();
}

void CNetFalls::showMessage(const char* name, const QString& title, const QString& text,
                            bool error) {
    auto* box = new QMessageBox(error ? QMessageBox::Critical : QMessageBox::Warning, title, text,
                                QMessageBox::Ok, this);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CNetFalls::loadList() {
    const QString minText = static_cast<QLineEdit*>(control(id::kMinDuration))->text();
    if (const std::optional<std::int32_t> v = parseMinimumDuration(minText.toStdString()))
        m_minDuration = *v;
    else
        showMessage("notAnInteger", "Tallynet", kNotAnInteger, false);

    OutageQuery query;
    query.filter = static_cast<OutageFilter>(
        std::max(0, static_cast<QComboBox*>(control(id::kFilter))->currentIndex()));
    query.now = m_clock.now();
    query.firstDay = calendarDate(static_cast<QDateEdit*>(control(id::kStartDate))->date());
    query.lastDay = calendarDate(static_cast<QDateEdit*>(control(id::kStopDate))->date());
    query.minDuration = m_minDuration;

    const std::filesystem::path file = m_global.dataFile(kOutageFileName);
    if (!m_global.os().files) {
        m_model->clear();
        return;
    }
    OutageListLoad load = loadOutageList(*m_global.os().files, file, query, m_clock);
    if (!load.opened) {
        m_model->clear(); // nothing recorded yet: the totals keep their text
        return;
    }
    const std::int64_t total = load.totalSeconds;
    const auto count = load.rows.size();
    m_model->setRows(std::move(load.rows));
    if (load.notRegular) {
        // Not ours to move or delete: the user is told what stands there and the list stays
        // empty.
        const std::string text =
            badFileText(file, "not a regular file", {SetAsideStatus::NotRegular, {}, 0});
        m_global.writeLog(text);
        showMessage("notRegular", "Error", QString::fromStdString(text), true);
        return;
    }
    if (load.invalid && hooks.confirmSetAside()) {
        // The user's only copy is kept aside rather than deleted; the next outage starts anew.
        const SetAsideResult aside = setAsideInvalidOutageFile(*m_global.os().files, file, m_clock);
        const std::string text = badFileText(file, "an invalid record", aside);
        m_global.writeLog(text);
        if (aside.status != SetAsideStatus::Moved)
            showMessage("setAsideFailed", "Error", QString::fromStdString(text), true);
        return;
    }
    setShownText(static_cast<QLabel*>(control(id::kCount)), QString::number(count));
    setShownText(static_cast<QLabel*>(control(id::kDuration)),
                 QString::fromStdString(outageTotalText(total)));
}

void CNetFalls::exportList() {
    const QString path = hooks.chooseExportFile();
    if (path.isEmpty())
        return;
    const std::string text =
        outageExportText(m_model->rows(), m_clock,
                         static_cast<QLabel*>(control(id::kDuration))->text().toStdString());
    QSaveFile out(path);
    // A folder that does not allow a temporary file beside the target is written in place.
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !out.commit()) {
        showMessage("exportFailed", "Error",
                    QString("Could not write %1: %2").arg(path, out.errorString()), true);
        return;
    }
    hooks.openExported(path);
}

void CNetFalls::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fitOnScreen(this); // centred over the main window, it may reach past the screen's edge
}

} // namespace tn::ui
