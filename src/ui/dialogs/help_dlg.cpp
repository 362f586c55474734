#include "ui/dialogs/help_dlg.h"

#include "app/control_ids.h"
#include "app/help_about.h"
#include "ui/widgets/bitmap_dlg.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tn::ui {

namespace {

enum class Kind { Button, Text };

struct ControlDef {
    int id;
    Kind kind;
    const char* text;
    int x, y, cx, cy; // dialog units
    const char* accessibleName;
};

constexpr ControlDef kControls[] = {
    {ids::help::kOk, Kind::Button, "OK", 285, 155, 30, 13, "OK"},
    {ids::help::kText, Kind::Text, "", 0, 1, 317, 153, "Help text"},
};

QRect dialogRect(const ControlDef& c, qreal dpi) {
    const int left = dialogUnitsToPixelsX(c.x, dpi);
    const int top = dialogUnitsToPixelsY(c.y, dpi);
    return {left, top, dialogUnitsToPixelsX(c.x + c.cx, dpi) - left,
            dialogUnitsToPixelsY(c.y + c.cy, dpi) - top};
}

} // namespace

CHelp::CHelp(const std::vector<std::filesystem::path>& candidates, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Tallynet Help");
    setAccessibleName("Tallynet Help");
    setObjectName(QString::number(ids::help::kDialog));
    const qreal dpi = logicalDpiX();
    setFixedSize(dialogUnitsToPixelsX(317, dpi), dialogUnitsToPixelsY(169, dpi));

    for (const ControlDef& c : kControls) {
        QWidget* w = nullptr;
        if (c.kind == Kind::Button) {
            auto* b = new QPushButton(c.text, this);
            b->setDefault(true);
            connect(b, &QPushButton::clicked, this, &QDialog::accept);
            w = b;
        } else {
            m_text = new QPlainTextEdit(this);
            // The help text is laid out in columns, so it reads best in a fixed-width font.
            // At 11 pixels its 64 columns fit the box without scrolling sideways.
            QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            fixed.setPixelSize(11);
            m_text->setFont(fixed);
            m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // lines wrap
            w = m_text;
        }
        w->setGeometry(dialogRect(c, dpi));
        w->setObjectName(QString::number(c.id));
        w->setAccessibleName(c.accessibleName);
    }
    m_text->setPlainText(QString::fromStdString(loadHelpText(candidates)));
    m_text->setFocus();
}

} // namespace tn::ui
