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
#include <utility>
#include <vector>

class QImage;
class QWidget;
class QWindow;

namespace tn::ui {

class WindowPixelWriter {
public:
    // Null where the display cannot take the pixels as they are, or when
    // TALLYNET_NO_DIRECT_WRITE is set (for comparing the two ways). TALLYNET_NO_SHARED_RING
    // sends the pixels in the requests, as to a display that shares no memory.
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
    // Memory shared with the display, unmapped when gone.
    class MappedRing {
    public:
        MappedRing() = default;
        MappedRing(std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
        MappedRing(MappedRing&& o) noexcept
            : m_data(std::exchange(o.m_data, nullptr)), m_size(std::exchange(o.m_size, 0)) {}
        MappedRing& operator=(MappedRing&& o) noexcept {
            std::swap(m_data, o.m_data);
            std::swap(m_size, o.m_size);
            return *this;
        }
        ~MappedRing();
        std::uint8_t* data() const { return m_data; }
        std::size_t size() const { return m_size; }

    private:
        std::uint8_t* m_data = nullptr;
        std::size_t m_size = 0;
    };
    // Room for four whole frames of the main window's graph.
    static constexpr std::size_t kRingBytes = 512 * 1024;

    bool attachToWindow();
    void releaseGc();
    void shareRing();
    bool putBand(const QImage& image, const QRect& band);

    QWidget* m_widget;
    QPointer<QWindow> m_handle;
    void* m_connection = nullptr; // xcb_connection_t, owned by the toolkit
    std::uint32_t m_window = 0;
    std::uint32_t m_gc = 0;
    QPoint m_offset;        // of the widget in its window
    bool m_checked = false; // the first write was confirmed by the display
    std::size_t m_maxRequestBytes = 0;
    std::vector<std::uint32_t> m_scratch; // the pixels of a request, without a shared ring
    MappedRing m_ring;
    std::uint32_t m_segment = 0; // the ring's name on the display
    std::size_t m_ringPos = 0;
};

} // namespace tn::ui
