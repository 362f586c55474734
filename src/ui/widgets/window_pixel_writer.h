#pragma once
// Puts pixels of a widget's own picture on its window directly, past the toolkit's backing store.
// A graph frame that moves a few narrow columns then costs one small write to the display,
// where a repaint costs a paint into the backing store, a transfer and a round trip to the
// display server that wakes two threads.
//
// Only where the display takes the picture's pixels as they lie in memory (X11, 24-bit true
// colour, little-endian, scale 1): create() returns null elsewhere and the caller repaints as
// usual. The backing store misses what was written this way, so the caller repaints the widget
// before the toolkit shows the backing store again (an expose).
#include <QPointer>
#include <QRect>

#include <cstdint>
#include <memory>
#include <vector>

class QImage;
class QWidget;
class QWindow;

namespace tn::ui {

class WindowPixelWriter {
public:
    // Null where the display cannot take the pixels as they are, or when
    // TALLYNET_NO_DIRECT_WRITE is set (for comparing the two ways).
    static std::unique_ptr<WindowPixelWriter> create(QWidget* widget);
    ~WindowPixelWriter();
    WindowPixelWriter(const WindowPixelWriter&) = delete;
    WindowPixelWriter& operator=(const WindowPixelWriter&) = delete;

    // Copies the rectangles (widget coordinates, inside image) of image, which is the widget's
    // picture at scale 1 in QImage::Format_RGB32, to the screen; the widget's mask clips them.
    // False when the display refused or the window no longer suits: the caller repaints
    // instead, and should not ask again.
    bool write(const QImage& image, const std::vector<QRect>& rects);

    // The native window written to, for watching its exposes.
    QWindow* windowHandle() const { return m_handle; }

    // Use create(): a writer made here writes only once it found a window that suits.
    explicit WindowPixelWriter(QWidget* widget) : m_widget(widget) {}

private:
    bool attachToWindow();
    void releaseGc();

    QWidget* m_widget;
    QPointer<QWindow> m_handle;
    void* m_connection = nullptr; // xcb_connection_t, owned by the toolkit
    std::uint32_t m_window = 0;
    std::uint32_t m_gc = 0;
    QPoint m_offset;        // of the widget in its window
    bool m_checked = false; // the first write was confirmed by the display
    std::size_t m_maxRequestBytes = 0;
    std::vector<std::uint32_t> m_scratch;
};

} // namespace tn::ui
