#pragma once
#include <QColor>
#include <QWidget>
#include <cstdint>

namespace tn::ui {

// A progress bar over the full 32-bit range, filled in one colour. A position above the range
// shows a full bar.
class CSpeedBar : public QWidget {
    Q_OBJECT
public:
    explicit CSpeedBar(QWidget* parent = nullptr);
    void setRange(std::uint32_t maximum);
    void setPosition(std::uint32_t position);
    void setBarColor(const QColor& colour);
    std::uint32_t maximum() const { return m_max; }
    std::uint32_t position() const { return m_pos; }
    QColor barColor() const { return m_colour; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int filledWidth() const;
    std::uint32_t m_max = 100;
    std::uint32_t m_pos = 0;
    QColor m_colour{0, 200, 0};
};

} // namespace tn::ui
