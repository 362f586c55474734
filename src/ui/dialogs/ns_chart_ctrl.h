#pragma once
#include "graph/chart_model.h"

#include <QFont>
#include <QPixmap>
#include <QWidget>

namespace tn::ui {

// The history viewer's self-painting bar chart. It shows what its ChartModel lays out, paints
// through one off-screen surface, shows a hand over a bar or its label and reports a click with
// the bar's index, label and value. Its window title is the chart's title.
class CNSChartCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "MFC_NSChartCtrl";

    explicit CNSChartCtrl(QWidget* parent = nullptr);

    // 0 empties the palette, 2 installs the twelve bar colours.
    void setChartPalette(int kind);
    void setChartKind(int flags);
    // False for a negative value; with `redraw` the chart is painted again.
    bool addValue(double value, const QString& label, bool redraw);
    void clearValues();
    // Marks a bar's label without painting.
    void setSelectedIndex(int index) { m_model.setSelectedIndex(index); }
    int selectedIndex() const { return m_model.selectedIndex(); }
    int hitTest(const QPoint& client) const;
    const ChartModel& model() const { return m_model; }

    // Draws the whole chart into the off-screen surface, made anew when the widget's size or
    // pixel ratio changed, and returns it.
    const QPixmap& renderSurface();

    const QFont& axisFont() const { return m_axisFont; }
    const QFont& barLabelFont() const { return m_barLabelFont; }
    const QFont& titleFont() const { return m_titleFont; }

signals:
    // A click (or a keyboard choice) on the chart: the selected index (-1 for none), its label
    // and its value.
    void clicked(int index, const QString& label, double value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The set-cursor step: the bar under the point becomes the selection.
    void trackCursor(const QPoint& client);
    void notify();

    ChartModel m_model;
    QFont m_axisFont;
    QFont m_barLabelFont;
    QFont m_titleFont;
    QFont m_messageFont;
    QPixmap m_surface;
};

} // namespace tn::ui
