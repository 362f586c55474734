#pragma once
#include "app/options_rules.h"

#include <QDialog>
#include <QHash>
#include <functional>

namespace tn {
class CGlobal;
class CProbe;
class IClock;
class IStatisticsOwner;
} // namespace tn

namespace tn::ui {

struct OptionsServices {
    CGlobal* global = nullptr;
    const IClock* clock = nullptr;
    IStatisticsOwner* stats = nullptr; // null: the reset clears nothing
    CProbe* probe = nullptr;           // the program's probe workers; null: no test
};

// "Tallynet Options": every setting but the graph's, each written the moment it changes; the
// custom log field is checked and saved at OK.
class COptions : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Tallynet Options";

    explicit COptions(OptionsServices services, QWidget* parent = nullptr);

    QWidget* control(int id) const { return m_controls.value(id); }
    // Opens the outage list; replaceable in tests.
    std::function<void()> openOutageList;

    // Shows a probe's result; usable from any thread.
    static void showProbeResult(const std::string& text);

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void initialise();
    void applyEnabling();
    void onBox(OptionBox box, bool on);
    void onTest();
    void onResetCustom();
    void commitFallSecs();
    void message(const char* name, const char* title, const char* text, bool error);

    CGlobal& m_global;
    const IClock& m_clock;
    IStatisticsOwner* m_stats;
    CProbe* m_probe;
    COptionsModel m_model;
    QHash<int, QWidget*> m_controls;
    bool m_initialising = false;
};

} // namespace tn::ui
