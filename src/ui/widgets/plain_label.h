#pragma once
#include <QLabel>

namespace tn::ui {

// A label that shows its text as plain text (never as rich text), in an optional own colour,
// on the parent's background.
class CPlainLabel : public QLabel {
    Q_OBJECT
public:
    explicit CPlainLabel(const QString& text, QWidget* parent = nullptr);
    void setTextColor(const QColor& colour);
    QColor textColor() const;
};

} // namespace tn::ui
