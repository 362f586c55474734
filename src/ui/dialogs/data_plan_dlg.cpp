#include "ui/dialogs/data_plan_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "orchestration/statistics_owner.h"
#include "ui/dialogs/dialog_layout.h"
#include "ui/widgets/bitmap_dlg.h"
#include "ui/widgets/control_table.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace tn::ui {

namespace {

using K = ControlKind;
namespace id = tn::ids::data_plan;

constexpr ControlSpec kControls[] = {
    {0, K::Group, "Plan", 1, 0, 186, 82, nullptr},
    {0, K::Label, "Allowance per plan month (GB) :", 6, 12, 110, 8, nullptr},
    {id::kAllowance, K::Edit, "", 120, 10, 60, 12, "Allowance per plan month (GB)"},
    {0, K::Label, "Traffic that counts :", 6, 28, 110, 8, nullptr},
    {id::kCounted, K::ListCombo, "", 82, 26, 98, 40, "Traffic that counts"},
    {0, K::Label, "Plan month starts on day :", 6, 44, 110, 8, nullptr},
    {id::kStartDay, K::DigitEdit, "", 150, 42, 30, 12, "Plan month starts on day"},
    {0, K::Label, "Warning at (% of the allowance) :", 6, 60, 120, 8, nullptr},
    {id::kWarnPercent, K::DigitEdit, "", 150, 58, 30, 12, "Warning at (% of the allowance)"},
    {id::kNotify, K::CheckBox, "Desktop notice at the warning and at 100%", 6, 72, 170, 10,
     nullptr},
    {0, K::Group, "This plan month", 1, 86, 186, 74, nullptr},
    {0, K::Label, "Plan month :", 6, 98, 70, 8, nullptr},
    {id::kPeriod, K::Label, "", 80, 98, 100, 8, "Plan month"},
    {0, K::Label, "Used :", 6, 110, 70, 8, nullptr},
    {id::kUsed, K::Label, "", 80, 110, 100, 8, "Used"},
    {0, K::Label, "Allowance :", 6, 122, 70, 8, nullptr},
    {id::kAllowanceValue, K::Label, "", 80, 122, 100, 8, "Allowance"},
    {0, K::Label, "Days left :", 6, 134, 70, 8, nullptr},
    {id::kDaysLeft, K::Label, "", 80, 134, 100, 8, "Days left"},
    {0, K::Label, "At month end :", 6, 146, 70, 8, nullptr},
    {id::kProjected, K::Label, "", 80, 146, 104, 8, "Projected at month end"},
    {id::kDone, K::Button, "Done", 135, 165, 50, 13, nullptr},
};

} // namespace

CDataPlanDlg::CDataPlanDlg(CGlobal& global, const IClock& clock, const IStatisticsOwner* stats,
                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_global(global), m_stats(stats), m_watch(global, clock) {
    setWindowTitle(kTitle);
    setAccessibleName(kTitle);
    setModal(true);
    setDialogFont(this);
    const qreal dpi = dialogDpi(this);
    setFixedSize(dialogUnitsToPixelsX(188, dpi), dialogUnitsToPixelsY(182, dpi));
    m_controls = buildDialogControls(this, kControls);

    auto* allowance = static_cast<QLineEdit*>(control(id::kAllowance));
    allowance->setValidator(new QRegularExpressionValidator(
        QRegularExpression("[0-9]{0,7}([.,][0-9]{0,3})?"), allowance));
    allowance->setText(QString::fromStdString(allowanceGBText(m_global.PlanBytes)));
    auto* counted = static_cast<QComboBox*>(control(id::kCounted));
    for (const char* item : kCountedItems)
        counted->addItem(QString::fromLatin1(item));
    counted->setCurrentIndex(m_global.PlanDown != 0 ? 1 : 0);
    auto* day = static_cast<QLineEdit*>(control(id::kStartDay));
    day->setMaxLength(2);
    day->setText(QString::number(m_global.PlanDay));
    auto* warn = static_cast<QLineEdit*>(control(id::kWarnPercent));
    warn->setMaxLength(3);
    warn->setText(QString::number(m_global.PlanWarn));
    auto* notify = static_cast<QCheckBox*>(control(id::kNotify));
    notify->setChecked(m_global.NotifyPlan != 0);
    auto* done = static_cast<QPushButton*>(control(id::kDone));
    done->setDefault(true);

    // textChanged and currentIndexChanged fire however the value changes: typing, pasting, the
    // mouse, or an accessibility action.
    connect(allowance, &QLineEdit::textChanged, this, &CDataPlanDlg::onAllowance);
    connect(counted, &QComboBox::currentIndexChanged, this, &CDataPlanDlg::onCounted);
    connect(day, &QLineEdit::textChanged, this, &CDataPlanDlg::onStartDay);
    connect(warn, &QLineEdit::textChanged, this, &CDataPlanDlg::onWarnPercent);
    connect(notify, &QCheckBox::toggled, this, &CDataPlanDlg::onNotify);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    refresh();
}

void CDataPlanDlg::setValue(int valueId, const std::string& text) {
    // The name says what the value is; a screen reader reads the value as the description.
    auto* label = static_cast<QLabel*>(control(valueId));
    label->setText(QString::fromStdString(text));
    label->setAccessibleDescription(label->text());
}

void CDataPlanDlg::refresh() {
    const StatRecords records = m_stats ? m_stats->records() : StatRecords{};
    const PlanTexts t = planTexts(m_watch.status(records));
    setValue(id::kPeriod, t.period);
    setValue(id::kUsed, t.used);
    setValue(id::kAllowanceValue, t.allowance);
    setValue(id::kDaysLeft, t.daysLeft);
    setValue(id::kProjected, t.projected);
}

void CDataPlanDlg::onAllowance(const QString& text) {
    const auto bytes = parseAllowanceGB(text.toStdString());
    if (!bytes || *bytes == m_global.PlanBytes)
        return;
    m_global.PlanBytes = *bytes;
    m_global.writeInt("PlanBytes", static_cast<std::int64_t>(*bytes));
    refresh();
}

void CDataPlanDlg::onCounted(int index) {
    if (index < 0)
        return;
    m_global.PlanDown = index == 1 ? 1 : 0;
    m_global.writeInt("PlanDown", m_global.PlanDown);
    refresh();
}

void CDataPlanDlg::storeRanged(const QString& text, int low, int high, std::int32_t& setting,
                               const char* key) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high || value == setting)
        return;
    setting = value;
    m_global.writeInt(key, value);
    refresh();
}

void CDataPlanDlg::onStartDay(const QString& text) {
    storeRanged(text, 1, 31, m_global.PlanDay, "PlanDay");
}

void CDataPlanDlg::onWarnPercent(const QString& text) {
    storeRanged(text, 1, 100, m_global.PlanWarn, "PlanWarn");
}

void CDataPlanDlg::onNotify(bool on) {
    m_global.NotifyPlan = on ? 1 : 0;
    m_global.writeInt("NotifyPlan", m_global.NotifyPlan);
}

} // namespace tn::ui
