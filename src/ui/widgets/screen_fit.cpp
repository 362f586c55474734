#include "ui/widgets/screen_fit.h"

#include "app/window_placement.h"

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>

namespace tn::ui {

namespace {

constexpr const char* kScrollName = "screenFitScroll";

ScreenRect toScreenRect(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

} // namespace

QList<QRect> availableScreenAreas() {
    QList<QRect> areas;
    for (const QScreen* s : QGuiApplication::screens())
        areas.append(s->availableGeometry());
    return areas;
}

QPoint placedOnScreens(const QRect& frame, const QList<QRect>& screens) {
    std::vector<ScreenRect> rects;
    for (const QRect& r : screens)
        rects.push_back(toScreenRect(r));
    const ScreenPoint p = placeOnScreens(toScreenRect(frame), rects);
    return {p.x, p.y};
}

int frameExtraHeight(const QWidget* window) {
    const int known = window->frameGeometry().height() - window->geometry().height();
    if (known > 0 || (window->windowFlags() & Qt::FramelessWindowHint))
        return std::max(known, 0);
    // Not decorated yet: a title bar and the lower border.
    return window->style()->pixelMetric(QStyle::PM_TitleBarHeight) +
           2 * window->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8;
}

bool fitDialogContent(QWidget* dialog, int frameExtra, const QRect& available) {
    if (dialog->findChild<QScrollArea*>(kScrollName, Qt::FindDirectChildrenOnly))
        return false;
    const QSize content = dialog->size();
    const int height = visibleContentHeight(content.height(), frameExtra, available.height());
    if (height >= content.height())
        return false;
    // The controls move, unchanged, onto a page the scroll area shows; the dialog's background
    // shows through, so the look stays.
    auto* page = new QWidget;
    page->setFixedSize(content);
    page->setFont(dialog->font());
    page->setPalette(dialog->palette());
    for (QObject* child : dialog->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow())
            continue;
        const QRect geometry = w->geometry();
        const bool hidden = w->isHidden();
        w->setParent(page);
        w->setGeometry(geometry);
        w->setVisible(!hidden);
    }
    auto* scroll = new QScrollArea(dialog);
    scroll->setObjectName(kScrollName);
    scroll->setAccessibleName(dialog->windowTitle().isEmpty() ? QString("Tallynet")
                                                              : dialog->windowTitle());
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    scroll->setWidget(page);
    const int width = content.width() + scroll->verticalScrollBar()->sizeHint().width();
    dialog->setFixedSize(width, height);
    scroll->setGeometry(0, 0, width, height);
    scroll->show();
    return true;
}

void fitOnScreen(QWidget* window) {
    fitOnScreen(window, availableScreenAreas());
}

void fitOnScreen(QWidget* window, const QList<QRect>& screens) {
    const QScreen* own = window->screen();
    const int extra = frameExtraHeight(window);
    if (own)
        fitDialogContent(window, extra, own->availableGeometry());
    // A window's position is its frame's; before decoration the frame is the estimate.
    QRect frame = window->frameGeometry();
    if (frame.size() == window->size())
        frame.setHeight(window->height() + extra);
    const QPoint to = placedOnScreens(frame, screens);
    if (to != frame.topLeft())
        window->move(to);
}

} // namespace tn::ui
