#pragma once
#include <QWidget>
#include <cstdint>

namespace tn::ui {

// Stands in for the traffic graph (control 1011) and takes the calls the main window makes of
// it; it draws an empty graph area.
class CGraphPlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit CGraphPlaceholder(QWidget* parent = nullptr);
    void setTimerPeriods(unsigned sampleMs, unsigned repaintMs);
    void setScalingMode(int adaptive);
    void restorePinPoint(std::int32_t packed);
    void setFixedMaximum(double bytesPerSecond);
    void setCurrentIncoming(std::uint32_t bytesPerSecond);
    void setCurrentOutgoing(std::uint32_t bytesPerSecond);

    double fixedMaximum() const { return m_fixedMax; }
    std::uint32_t currentIncoming() const { return m_in; }
    std::uint32_t currentOutgoing() const { return m_out; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_fixedMax = 0;
    std::uint32_t m_in = 0, m_out = 0;
};

} // namespace tn::ui
