// How the models' fonts, colours, texts and pictures become Qt's.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <string>

#include "gui/Forms.h"

namespace gui::qt {

// The nearest sans family present, at the model's pixel height and style.
QFont ToQFont(const gui::Font& font);
QColor ToQColor(gui::Color colour);
// Text is 8-bit: one byte, one character.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);

// A picture by its resource name (resources/pictures.qrc); null when missing.
QPixmap Picture(const std::string& name);
// A button glyph whose bottom-left pixel's colour is drawn transparent.
QPixmap Glyph(const std::string& name);
QIcon WindowIcon(const std::string& name);

}  // namespace gui::qt
