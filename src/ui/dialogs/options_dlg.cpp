#include "ui/dialogs/options_dlg.h"

#include "app/control_ids.h"
#include "app/global.h"
#include "capture/port_stat.h"
#include "orchestration/statistics_owner.h"
#include "stats/probe.h"
#include "ui/dialogs/dialog_layout.h"
#include "ui/dialogs/netfalls_dlg.h"
#include "ui/widgets/bitmap_dlg.h"
#include "ui/widgets/control_table.h"
#include "ui/widgets/screen_fit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

namespace tn::ui {

namespace {

using K = ControlKind;
namespace id = tn::ids::options;

// The dialog template, in dialog units.
constexpr ControlSpec kControls[] = {
    {0, K::Label, "On main interface, show data  from :", 8, 9, 114, 8, nullptr},
    {id::kWinPcapGroup, K::Group, "WinPcap settings", 1, 0, 146, 70, nullptr},
    {id::kWinPCap, K::CheckBox, "WinPCap driver (else reported by OS)", 6, 21, 140, 8, nullptr},
    {0, K::Label, "(If the program is not started at StartUp)", 11, 32, 124, 8, nullptr},
    {id::kIncremtotal, K::CheckBox, "In conjunction with Windows api", 23, 43, 118, 10, nullptr},
    {id::kLanOnly, K::CheckBox, "Watch only selected adapter's traffic", 7, 57, 131, 10, nullptr},
    {id::kGeneralGroup, K::Group, "General settings", 1, 72, 146, 33, nullptr},
    {id::kRunAtStartUp, K::CheckBox, "Run at StartUp", 5, 81, 63, 10, nullptr},
    {id::kStartMin, K::CheckBox, "Start Minimized", 5, 93, 63, 10, nullptr},
    {id::kAutohide, K::CheckBox, "Autohide", 88, 81, 44, 10, nullptr},
    {id::kConfirmExit, K::CheckBox, "Confirm Exit", 88, 93, 53, 10, nullptr},
    {0, K::Group, "Net BreakDown's", 1, 107, 146, 78, nullptr},
    {id::kLogFalls, K::CheckBox, "Log Incoming NULL data ", 5, 119, 100, 10, nullptr},
    {id::kViewLog, K::Button, "View Log", 109, 114, 35, 12, nullptr},
    {0, K::Label, "If no traffic more than :", 17, 133, 72, 8, nullptr},
    {id::kFallSecs, K::DigitEdit, "", 96, 131, 20, 12, "If no traffic more than : sec's"},
    {0, K::Label, "sec's", 122, 133, 17, 8, nullptr},
    {id::kPingHost, K::CheckBox, "Ping host to ensure some traffic", 6, 148, 115, 10, nullptr},
    {id::kHost, K::EditCombo, "", 31, 160, 71, 51, "Host to ping"},
    {id::kTest, K::Button, "Test", 103, 160, 26, 12, "Test ping of the host"},
    {0, K::Label, "(is done at 1/2 of previous choosed time)", 10, 174, 130, 8, nullptr},
    {id::kSpeedGroup, K::Group, "Connection Maximum Speed", 1, 187, 146, 46, nullptr},
    {0, K::Label, "Speed :", 7, 202, 26, 8, nullptr},
    {id::kConSpeed, K::DigitEdit, "", 38, 201, 29, 12, "Speed : X 1024 Bits (Kb)"},
    {0, K::Label, "X", 72, 202, 8, 8, nullptr},
    {0, K::Label, "1024 Bits (Kb)", 81, 202, 45, 8, nullptr},
    {0, K::Label, "Example : 128 Kb is equal to 16KB", 6, 219, 110, 8, nullptr},
    {id::kCustomGroup, K::Group, "Custom Log Field", 1, 234, 146, 71, nullptr},
    {id::kCustField, K::CheckBox, "Enable Log Custom Port Traffic", 7, 245, 114, 10, nullptr},
    {0, K::Label, "Name in Log View:", 7, 258, 60, 8, nullptr},
    {id::kCustName, K::Edit, "", 73, 256, 69, 13, "Name in Log View:"},
    {0, K::Label, "Port to watch:", 7, 274, 45, 8, nullptr},
    {id::kCustPort, K::Edit, "", 73, 271, 69, 13, "Port to watch:"},
    {id::kResetCustom, K::Button, "Reset traffic for this entry", 6, 289, 88, 12, nullptr},
    {id::kOk, K::Button, "OK", 119, 289, 25, 13, nullptr},
};

struct BoxBinding {
    int id;
    OptionBox box;
};
constexpr BoxBinding kBoxes[] = {
    {id::kRunAtStartUp, OptionBox::RunAtStartUp}, {id::kStartMin, OptionBox::StartMin},
    {id::kWinPCap, OptionBox::WinPCap},           {id::kLanOnly, OptionBox::LanOnly},
    {id::kIncremtotal, OptionBox::Incremtotal},   {id::kAutohide, OptionBox::Autohide},
    {id::kConfirmExit, OptionBox::ConfirmExit},   {id::kCustField, OptionBox::CustField},
    {id::kLogFalls, OptionBox::LogFalls},         {id::kPingHost, OptionBox::PingHost},
};

} // namespace

COptions::COptions(OptionsServices services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_global(*services.global), m_clock(*services.clock), m_stats(services.stats),
      m_probe(services.probe), m_model(*services.global) {
    setWindowTitle(kTitle);
    setModal(true);
    setDialogFont(this);
    const qreal dpi = dialogDpi(this);
    setFixedSize(dialogUnitsToPixelsX(148, dpi), dialogUnitsToPixelsY(305, dpi));
    m_controls = buildDialogControls(this, kControls);
    static_cast<QPushButton*>(control(id::kOk))->setDefault(true);
    static_cast<QLineEdit*>(control(id::kConSpeed))->setMaxLength(kConSpeedMaxChars);
    static_cast<QLineEdit*>(control(id::kConSpeed))->setAlignment(Qt::AlignHCenter);

    openOutageList = [this] {
        CNetFalls list(m_global, m_clock, this);
        list.exec();
    };
    initialise();

    // toggled, not clicked: an accessibility action or a program toggles without a click, and
    // the setting must follow the tick however it changed.
    for (const BoxBinding& b : kBoxes) {
        auto* box = static_cast<QCheckBox*>(control(b.id));
        connect(box, &QCheckBox::toggled, this, [this, which = b.box](bool on) {
            if (!m_initialising)
                onBox(which, on);
        });
    }
    auto* fallSecs = static_cast<QLineEdit*>(control(id::kFallSecs));
    connect(fallSecs, &QLineEdit::editingFinished, this, &COptions::commitFallSecs);
    connect(static_cast<QLineEdit*>(control(id::kConSpeed)), &QLineEdit::textChanged, this,
            [this](const QString& t) { m_model.conSpeedEdited(t.toStdString()); });
    auto* host = static_cast<QComboBox*>(control(id::kHost));
    // The edit text follows a choice from the list too, so every change is stored at once.
    connect(host, &QComboBox::editTextChanged, this,
            [this](const QString& t) { m_model.hostEdited(t.toStdString()); });
    connect(static_cast<QPushButton*>(control(id::kViewLog)), &QPushButton::clicked, this,
            [this] { openOutageList(); });
    connect(static_cast<QPushButton*>(control(id::kTest)), &QPushButton::clicked, this,
            &COptions::onTest);
    connect(static_cast<QPushButton*>(control(id::kResetCustom)), &QPushButton::clicked, this,
            &COptions::onResetCustom);
    connect(static_cast<QPushButton*>(control(id::kOk)), &QPushButton::clicked, this,
            &COptions::accept);
}

void COptions::initialise() {
    // The dialog's own ticks while it opens store nothing.
    m_initialising = true;
    const OptionsInitial init = m_model.initialise();
    for (const BoxBinding& b : kBoxes)
        static_cast<QCheckBox*>(control(b.id))->setChecked(m_model.checked(b.box));
    static_cast<QLineEdit*>(control(id::kFallSecs))
        ->setText(QString::fromStdString(init.fallSecsText));
    auto* host = static_cast<QComboBox*>(control(id::kHost));
    for (const std::string& e : init.hosts.entries)
        host->addItem(QString::fromStdString(e));
    host->setCurrentIndex(init.hosts.selected);
    static_cast<QLineEdit*>(control(id::kConSpeed))
        ->setText(QString::fromStdString(init.conSpeedText));
    static_cast<QLineEdit*>(control(id::kCustPort))->setText(QString::fromStdString(init.custPort));
    static_cast<QLineEdit*>(control(id::kCustName))->setText(QString::fromStdString(init.custName));
    applyEnabling();
    m_initialising = false;
}

void COptions::applyEnabling() {
    const OptionsEnabling e = m_model.enabling();
    control(id::kIncremtotal)->setEnabled(e.incremtotal);
    control(id::kLanOnly)->setEnabled(e.lanOnly);
    control(id::kFallSecs)->setEnabled(e.fallSecs);
    control(id::kHost)->setEnabled(e.host);
    control(id::kTest)->setEnabled(e.test);
    control(id::kCustName)->setEnabled(e.custName);
    control(id::kCustPort)->setEnabled(e.custPort);
}

void COptions::onBox(OptionBox box, bool on) {
    m_model.setChecked(box, on);
    applyEnabling();
}

void COptions::commitFallSecs() {
    static_cast<QLineEdit*>(control(id::kFallSecs))->setModified(false);
    m_model.fallSecsEdited(static_cast<QLineEdit*>(control(id::kFallSecs))->text().toStdString());
}

void COptions::showProbeResult(const std::string& text) {
    QApplication* app = qApp;
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [text] {
            // Without an owner: the result may arrive after the options are closed.
            auto* box = new QMessageBox(QMessageBox::Information, kPingTitle,
                                        QString::fromStdString(text), QMessageBox::Ok);
            box->setObjectName("pingResult");
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->show();
        },
        Qt::QueuedConnection);
}

void COptions::onTest() {
    // Stored already by the edit handler; taken again in case the list changed it silently.
    m_model.hostEdited(static_cast<QComboBox*>(control(id::kHost))->currentText().toStdString());
    if (m_probe)
        m_probe->start(m_global.HostToPing, false, &COptions::showProbeResult);
}

void COptions::onResetCustom() {
    if (m_stats)
        m_stats->clearCategory(kCustom);
    message("customCleared", "Info", kCustomTrafficCleared, false);
}

void COptions::message(const char* name, const char* title, const char* text, bool error) {
    auto* box = new QMessageBox(error ? QMessageBox::Critical : QMessageBox::Information, title,
                                text, QMessageBox::Ok, this);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void COptions::accept() {
    const CustomFieldCheck check =
        m_model.accept(static_cast<QLineEdit*>(control(id::kCustName))->text().toStdString(),
                       static_cast<QLineEdit*>(control(id::kCustPort))->text().toStdString());
    switch (check) {
    case CustomFieldCheck::InvalidName:
        message("invalidCustom", "Error", kInvalidCustomName, true);
        return;
    case CustomFieldCheck::InvalidPort:
        message("invalidCustom", "Error", kInvalidCustomPort, true);
        return;
    case CustomFieldCheck::Accepted:
        QDialog::accept();
        return;
    }
}

void COptions::done(int result) {
    // Closing with Escape or the close box loses the focus of the outage-seconds box too.
    auto* fallSecs = static_cast<QLineEdit*>(control(id::kFallSecs));
    if (fallSecs->isModified())
        commitFallSecs();
    QDialog::done(result);
}

void COptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fitOnScreen(this); // centred over the main window, it may reach past the screen's edge
}

} // namespace tn::ui
