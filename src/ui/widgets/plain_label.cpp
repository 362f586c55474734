#include "ui/widgets/plain_label.h"

namespace tn::ui {

CPlainLabel::CPlainLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setText(text);
}

void CPlainLabel::setTextColor(const QColor& colour) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, colour);
    setPalette(pal);
}

QColor CPlainLabel::textColor() const {
    return palette().color(QPalette::WindowText);
}

} // namespace tn::ui
