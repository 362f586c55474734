#pragma once
#include <QColor>
#include <QDialog>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QRect>

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
    // The dialog's three colours: the background, the face of its value cells and controls,
    // and the text on the background. Without them the main window's look is used.
    void setColours(const QColor& background, const QColor& face, const QColor& text);
    // The secondary windows' look: their colours, 11-pixel Verdana (or the sans-serif the
    // system has) and their size in dialog units.
    void setSecondaryLook(const QColor& background, const QColor& face, const QColor& text,
                          int width, int height);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The screens' usable areas the window is kept on.
    virtual QList<QRect> screenAreasForPlacement() const;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap makeBackground() const;

    QPixmap m_background;
    QColor m_base; // invalid: the main window's background
    QPoint m_dragOffset;
    bool m_dragging = false;
};

} // namespace tn::ui
