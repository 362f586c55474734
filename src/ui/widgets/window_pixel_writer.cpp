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
#include <xcb/xcb.h>
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
    return writer;
}

WindowPixelWriter::~WindowPixelWriter() {
    releaseGc();
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
    for (const QRect& asked : rects) {
        const QRect r = asked & image.rect();
        if (r.isEmpty())
            continue;
        const std::size_t rowBytes = static_cast<std::size_t>(r.width()) * 4;
        if (rowBytes > m_maxRequestBytes)
            return false;
        // In bands of rows that each fit one request.
        const int bandRows = static_cast<int>(std::min<std::size_t>(
            m_maxRequestBytes / rowBytes, static_cast<std::size_t>(r.height())));
        for (int top0 = r.top(); top0 <= r.bottom(); top0 += bandRows) {
            const int rows = std::min(bandRows, r.bottom() + 1 - top0);
            m_scratch.resize(static_cast<std::size_t>(r.width()) * static_cast<std::size_t>(rows));
            for (int y = 0; y < rows; ++y) {
                const auto* src =
                    reinterpret_cast<const std::uint32_t*>(image.constScanLine(top0 + y));
                std::copy_n(src + r.left(), r.width(),
                            m_scratch.begin() + static_cast<std::ptrdiff_t>(y) * r.width());
            }
            const auto length = static_cast<std::uint32_t>(m_scratch.size() * 4);
            const auto* data = reinterpret_cast<const std::uint8_t*>(m_scratch.data());
            const auto x = static_cast<std::int16_t>(m_offset.x() + r.left());
            const auto y = static_cast<std::int16_t>(m_offset.y() + top0);
            const auto w = static_cast<std::uint16_t>(r.width());
            const auto h = static_cast<std::uint16_t>(rows);
            if (m_checked) {
                xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, w, h, x, y, 0, 24,
                              length, data);
                continue;
            }
            // The first write waits for the display's answer once: a refusal ends this way
            // of writing before it could put an error on the toolkit's event queue again.
            const xcb_void_cookie_t cookie = xcb_put_image_checked(
                c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, w, h, x, y, 0, 24, length, data);
            if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
                std::free(error);
                return false;
            }
            m_checked = true;
        }
    }
    xcb_flush(c);
    return true;
}

#else

std::unique_ptr<WindowPixelWriter> WindowPixelWriter::create(QWidget*) {
    return nullptr;
}
WindowPixelWriter::~WindowPixelWriter() = default;
void WindowPixelWriter::releaseGc() {}
bool WindowPixelWriter::attachToWindow() {
    return false;
}
bool WindowPixelWriter::write(const QImage&, const std::vector<QRect>&) {
    return false;
}

#endif

} // namespace tn::ui
