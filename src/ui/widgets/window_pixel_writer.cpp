#include "ui/widgets/window_pixel_writer.h"

#include <QGuiApplication>
#include <QImage>
#include <QRegion>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdlib>

#ifdef TALLYNET_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tn::ui {

#ifdef TALLYNET_HAVE_XCB

namespace {

xcb_connection_t* connectionOf(void* c) {
    return static_cast<xcb_connection_t*>(c);
}

// Whether window takes 32-bit pixels laid out as QImage::Format_RGB32 keeps them: depth 24,
// true colour with red, green and blue in the low three bytes of a little-endian word.
bool takesRgb32(xcb_connection_t* c, xcb_window_t window) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool format = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == 24)
            format = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    if (!format)
        return false;

    const auto geometryCookie = xcb_get_geometry(c, window);
    const auto attributesCookie = xcb_get_window_attributes(c, window);
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(c, geometryCookie, nullptr), &std::free);
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(c, attributesCookie, nullptr), &std::free);
    if (!geometry || !attributes || geometry->depth != 24)
        return false;
    for (auto s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s))
        for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem; xcb_depth_next(&d)) {
            if (d.data->depth != 24)
                continue;
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
                if (v.data->visual_id == attributes->visual)
                    return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                           v.data->red_mask == 0xff0000 && v.data->green_mask == 0xff00 &&
                           v.data->blue_mask == 0xff;
        }
    return false;
}

} // namespace

std::unique_ptr<WindowPixelWriter> WindowPixelWriter::create(QWidget* widget) {
    if (!widget || qEnvironmentVariableIsSet("TALLYNET_NO_DIRECT_WRITE") ||
        QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection() || xcb_connection_has_error(x11->connection()))
        return nullptr;
    auto writer = std::make_unique<WindowPixelWriter>(widget);
    writer->m_connection = x11->connection();
    if (!writer->attachToWindow())
        return nullptr;
    writer->shareRing();
    return writer;
}

// A ring of memory the display reads the pixels from: a request then carries 40 bytes, not
// the pixels. Where the display cannot share memory (a remote one), the pixels go in the
// requests.
void WindowPixelWriter::shareRing() {
    xcb_connection_t* c = connectionOf(m_connection);
    if (qEnvironmentVariableIsSet("TALLYNET_NO_SHARED_RING"))
        return; // as on a remote display
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id);
    if (!ext || !ext->present)
        return;
    std::unique_ptr<xcb_shm_query_version_reply_t, decltype(&std::free)> version(
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr), &std::free);
    if (!version || (version->major_version == 1 && version->minor_version < 2) ||
        version->major_version < 1)
        return; // no passing of a descriptor
    const int fd = memfd_create("tallynet-graph", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return;
    if (ftruncate(fd, static_cast<off_t>(kRingBytes)) != 0) {
        close(fd);
        return;
    }
    // The display may only read it, and nobody can change its size under either side.
    fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
    void* p = mmap(nullptr, kRingBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        close(fd);
        return;
    }
    MappedRing ring(static_cast<std::uint8_t*>(p), kRingBytes);
    const std::uint32_t segment = xcb_generate_id(c);
    // The connection takes the descriptor and closes it once sent.
    if (xcb_generic_error_t* error =
            xcb_request_check(c, xcb_shm_attach_fd_checked(c, segment, fd, 1))) {
        std::free(error);
        return;
    }
    m_ring = std::move(ring);
    m_segment = segment;
    m_ringPos = 0;
}

WindowPixelWriter::~WindowPixelWriter() {
    releaseGc();
    if (m_segment != 0 && !xcb_connection_has_error(connectionOf(m_connection)))
        xcb_shm_detach(connectionOf(m_connection), m_segment);
}

WindowPixelWriter::MappedRing::~MappedRing() {
    if (m_data)
        munmap(m_data, m_size);
}

void WindowPixelWriter::releaseGc() {
    if (m_gc == 0)
        return;
    xcb_free_gc(connectionOf(m_connection), m_gc);
    m_gc = 0;
}

// The window's id, its pixel format and the widget's place in it; again whenever the toolkit
// made the window anew (a change of its flags does).
bool WindowPixelWriter::attachToWindow() {
    releaseGc();
    m_window = 0;
    QWidget* top = m_widget->window();
    QWindow* handle = top->windowHandle();
    if (!handle || !handle->handle() || top->devicePixelRatioF() != 1.0)
        return false;
    xcb_connection_t* c = connectionOf(m_connection);
    // The handle's id, not the widget's: QWidget::winId() keeps the first native window's id
    // after the toolkit made the window anew.
    const auto window = static_cast<xcb_window_t>(handle->winId());
    if (window == 0 || !takesRgb32(c, window))
        return false;
    m_handle = handle;
    m_window = window;
    m_offset = m_widget->mapTo(top, QPoint(0, 0));
    m_gc = xcb_generate_id(c);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(c, m_gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    // The widget's mask (its rounded corners) clips every write, as it clips its paints.
    const QRegion clip = m_widget->mask().isEmpty() ? QRegion(m_widget->rect()) : m_widget->mask();
    std::vector<xcb_rectangle_t> rects;
    for (const QRect& r : clip)
        rects.push_back({static_cast<std::int16_t>(r.x()), static_cast<std::int16_t>(r.y()),
                         static_cast<std::uint16_t>(r.width()),
                         static_cast<std::uint16_t>(r.height())});
    xcb_set_clip_rectangles(c, XCB_CLIP_ORDERING_UNSORTED, m_gc,
                            static_cast<std::int16_t>(m_offset.x()),
                            static_cast<std::int16_t>(m_offset.y()),
                            static_cast<std::uint32_t>(rects.size()), rects.data());
    // In 4-byte units; the request's own header takes 24 bytes of it.
    m_maxRequestBytes = static_cast<std::size_t>(xcb_get_maximum_request_length(c)) * 4 - 24;
    m_checked = false;
    return true;
}

bool WindowPixelWriter::write(const QImage& image, const std::vector<QRect>& rects) {
    QWidget* top = m_widget->window();
    if (image.format() != QImage::Format_RGB32 || top->devicePixelRatioF() != 1.0)
        return false;
    const QWindow* handle = top->windowHandle();
    if (!handle || !handle->handle())
        return false;
    if (m_window == 0 || static_cast<xcb_window_t>(handle->winId()) != m_window ||
        m_widget->mapTo(top, QPoint(0, 0)) != m_offset)
        if (!attachToWindow())
            return false;
    xcb_connection_t* c = connectionOf(m_connection);
    if (xcb_connection_has_error(c))
        return false;
    const std::size_t limit = m_ring.size() != 0 ? m_ring.size() : m_maxRequestBytes;
    for (const QRect& asked : rects) {
        const QRect r = asked & image.rect();
        if (r.isEmpty())
            continue;
        const std::size_t rowBytes = static_cast<std::size_t>(r.width()) * 4;
        if (rowBytes > limit)
            return false;
        // In bands of rows that each fit one request (or the shared ring).
        const int bandRows = static_cast<int>(
            std::min<std::size_t>(limit / rowBytes, static_cast<std::size_t>(r.height())));
        for (int top0 = r.top(); top0 <= r.bottom(); top0 += bandRows) {
            const int rows = std::min(bandRows, r.bottom() + 1 - top0);
            if (!putBand(image, QRect(r.left(), top0, r.width(), rows)))
                return false;
        }
    }
    xcb_flush(c);
    return true;
}

bool WindowPixelWriter::putBand(const QImage& image, const QRect& band) {
    xcb_connection_t* c = connectionOf(m_connection);
    const std::size_t bytes = static_cast<std::size_t>(band.width()) * 4 * band.height();
    std::uint32_t* dst = nullptr;
    std::uint32_t offset = 0;
    if (m_ring.size() != 0) {
        // The display reads the ring after the request: a place is written again only once
        // the display answered a request made after every read of it.
        if (m_ringPos + bytes > m_ring.size()) {
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
            m_ringPos = 0;
        }
        offset = static_cast<std::uint32_t>(m_ringPos);
        dst = reinterpret_cast<std::uint32_t*>(m_ring.data() + m_ringPos);
        m_ringPos += (bytes + 63) & ~std::size_t{63};
    } else {
        m_scratch.resize(bytes / 4);
        dst = m_scratch.data();
    }
    for (int y = 0; y < band.height(); ++y) {
        const auto* src =
            reinterpret_cast<const std::uint32_t*>(image.constScanLine(band.top() + y));
        std::copy_n(src + band.left(), band.width(),
                    dst + static_cast<std::ptrdiff_t>(y) * band.width());
    }
    const auto x = static_cast<std::int16_t>(m_offset.x() + band.left());
    const auto y = static_cast<std::int16_t>(m_offset.y() + band.top());
    const auto w = static_cast<std::uint16_t>(band.width());
    const auto h = static_cast<std::uint16_t>(band.height());
    const auto length = static_cast<std::uint32_t>(bytes);
    const auto* data = reinterpret_cast<const std::uint8_t*>(dst);
    if (m_checked) {
        if (m_ring.size() != 0)
            xcb_shm_put_image(c, m_window, m_gc, w, h, 0, 0, w, h, x, y, 24,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, 0, m_segment, offset);
        else
            xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, w, h, x, y, 0, 24, length,
                          data);
        return true;
    }
    // The first write waits for the display's answer once: a refusal ends this way of writing
    // before it could put an error on the toolkit's event queue again.
    const xcb_void_cookie_t cookie =
        m_ring.size() != 0
            ? xcb_shm_put_image_checked(c, m_window, m_gc, w, h, 0, 0, w, h, x, y, 24,
                                        XCB_IMAGE_FORMAT_Z_PIXMAP, 0, m_segment, offset)
            : xcb_put_image_checked(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, w, h, x, y, 0, 24,
                                    length, data);
    if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
        std::free(error);
        return false;
    }
    m_checked = true;
    return true;
}

#else

std::unique_ptr<WindowPixelWriter> WindowPixelWriter::create(QWidget*) {
    return nullptr;
}
WindowPixelWriter::~WindowPixelWriter() = default;
WindowPixelWriter::MappedRing::~MappedRing() = default;
void WindowPixelWriter::releaseGc() {}
bool WindowPixelWriter::attachToWindow() {
    return false;
}
bool WindowPixelWriter::write(const QImage&, const std::vector<QRect>&) {
    return false;
}

#endif

} // namespace tn::ui
