#pragma once
#include <QDialog>
#include <QImage>
#include <QTimer>

namespace tn::ui {

// The about picture: the logo with the version line and the edition caption, and a small
// arrow that rises across the logo while the box is shown.
class CAboutCtrl : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrameMs = 40;
    static constexpr int kStripWidth = 20;
    static constexpr int kStripHeight = 27;
    static constexpr int kStripX = 12;
    static constexpr int kStripTop = 20;
    static constexpr int kVersionLineHeight = 15; // the version line's band at the bottom
    static constexpr const char* kEdition = "Linux edition";

    explicit CAboutCtrl(QWidget* parent = nullptr);
    // Set before the control is shown.
    void setAboutText(const QString& text) { m_aboutText = text; }
    const QString& aboutText() const { return m_aboutText; }
    // Loads the logo, sizes the control to it and builds the surfaces.
    void attach();
    bool isAnimating() const { return m_timer.isActive(); }
    const QImage& frame() const { return m_frame; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void drawFrame();

    QString m_aboutText;
    QImage m_logo;  // the logo with its two text lines
    QImage m_strip; // the rising arrow
    QImage m_frame; // what the control shows
    QTimer m_timer;
    int m_position = 0;
};

// The about box: frameless, centred on its parent, closed by a left-button release or Escape.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // `aboutText`: the version line, e.g. "ver 1.0.0.0  [libpcap-v.1.10.3]".
    explicit CAboutDlg(const QString& aboutText, QWidget* parent = nullptr);
    CAboutCtrl* aboutControl() const { return m_ctrl; }

protected:
    void showEvent(QShowEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    CAboutCtrl* m_ctrl = nullptr;
};

// Bitmap 130, the about logo, drawn for the given size.
QImage aboutLogo(QSize size);

} // namespace tn::ui
