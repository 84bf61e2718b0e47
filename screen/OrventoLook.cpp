#include "screen/OrventoLook.h"

#include <QPalette>
#include <QStyleFactory>

namespace orvento {

void applyOrventoLook(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette;
    const QColor text(0xe8, 0xee, 0xf6);
    const QColor muted(0x5d, 0x70, 0x90);
    palette.setColor(QPalette::Window, QColor(0x0f, 0x20, 0x36));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(0x0b, 0x18, 0x28));
    palette.setColor(QPalette::AlternateBase, QColor(0x12, 0x23, 0x3a));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x6b, 0x7f, 0x9c));
    palette.setColor(QPalette::Button, QColor(0x1f, 0x36, 0x57));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x2f, 0x8f, 0x7d));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0x12, 0x23, 0x3a));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, QColor(0x45, 0xe0, 0xc2));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, muted);
    }
    QApplication::setPalette(palette);
}

}  // namespace orvento
