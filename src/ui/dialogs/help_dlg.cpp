#include "ui/dialogs/help_dlg.h"

#include "app/control_ids.h"
#include "app/help_about.h"
#include "ui/widgets/bitmap_dlg.h"
#include "ui/widgets/control_table.h"
#include "ui/widgets/screen_fit.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tn::ui {

namespace {

using namespace ids::help;

constexpr ControlSpec kHelpControls[] = {
    {kOk, ControlKind::Custom, "OK", 285, 155, 30, 13},
    {kText, ControlKind::Custom, "", 0, 1, 317, 153, "Help text"},
};

QRect toPixels(const ControlSpec& c, qreal dpi) {
    const int left = dialogUnitsToPixelsX(c.x, dpi);
    const int top = dialogUnitsToPixelsY(c.y, dpi);
    return {left, top, dialogUnitsToPixelsX(c.x + c.cx, dpi) - left,
            dialogUnitsToPixelsY(c.y + c.cy, dpi) - top};
}

} // namespace

CHelp::CHelp(const std::vector<std::filesystem::path>& candidates, IFileStore* files,
             QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Tallynet Help");
    setAccessibleName("Tallynet Help");
    setObjectName(QString::number(kDialog));
    const qreal dpi = logicalDpiX();
    setFixedSize(dialogUnitsToPixelsX(317, dpi), dialogUnitsToPixelsY(169, dpi));

    ControlTableContext context;
    context.parent = this;
    context.rect = [dpi](const ControlSpec& c) { return toPixels(c, dpi); };
    context.custom = [this](const ControlSpec& c) -> QWidget* {
        if (c.id == kOk) {
            auto* ok = new QPushButton(c.text, this);
            ok->setDefault(true);
            connect(ok, &QPushButton::clicked, this, &QDialog::accept);
            return ok;
        }
        m_text = new QPlainTextEdit(this);
        // The help text is laid out in columns, so it reads best in a fixed-width font; at
        // 11 pixels its 64 columns fit the box.
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPixelSize(11);
        m_text->setFont(fixed);
        m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // lines wrap
        return m_text;
    };
    buildControls(kHelpControls, context);

    m_text->setPlainText(QString::fromStdString(loadHelpText(candidates, files)));
    m_text->setFocus();
}

void CHelp::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fitOnScreen(this); // centred over the main window, it may reach past the screen's edge
}

} // namespace tn::ui
