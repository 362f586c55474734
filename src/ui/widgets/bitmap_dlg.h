#pragma once
#include <QDialog>
#include <QPixmap>
#include <QPoint>

namespace tn::ui {

// Dialog units to pixels: x * 6 / 4 and y * 13 / 8 at 96 dpi, scaled with the logical dpi,
// rounded to the nearest pixel.
int dialogUnitsToPixelsX(int units, qreal dpi = 96.0);
int dialogUnitsToPixelsY(int units, qreal dpi = 96.0);

// A frameless dialog with a painted bitmap background that the user moves by dragging any part
// of the background.
class CBitmapDlg : public QDialog {
    Q_OBJECT
public:
    explicit CBitmapDlg(QWidget* parent = nullptr);

    // Client size in dialog units.
    void setDialogUnitSize(int width, int height);
    // A rectangle in dialog units as pixels at this dialog's dpi.
    QRect dialogRect(int x, int y, int w, int h) const;
    qreal dpi() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap m_background;
    QPoint m_dragOffset;
    bool m_dragging = false;
};

} // namespace tn::ui
