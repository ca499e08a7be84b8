#include "gui/qt/QtLook.h"

#include <QBitmap>
#include <QFontDatabase>
#include <QImage>
#include <QStringList>
#include <cstdlib>

namespace gui::qt {
namespace {

// The layout names a bitmap font that Linux desktops lack; these come closest in width and
// shape, in order of preference, ending with whatever sans the system offers.
QString SansFamilyFor(const std::string& requested) {
  static const QStringList families = QFontDatabase::families();
  QStringList candidates{ToQString(requested),
                         "Microsoft Sans Serif",
                         "Liberation Sans",
                         "Arimo",
                         "Arial",
                         "Nimbus Sans",
                         "Helvetica",
                         "DejaVu Sans Condensed",
                         "DejaVu Sans"};
  for (const QString& c : candidates) {
    if (families.contains(c, Qt::CaseInsensitive)) return c;
  }
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QString ResourcePath(const std::string& name) {
  return ":/pictures/" + ToQString(name);
}

}  // namespace

QFont ToQFont(const gui::Font& font) {
  QFont f(SansFamilyFor(font.Name));
  f.setStyleHint(QFont::SansSerif);
  // A negative height is the character height in pixels; a positive one the cell height, of
  // which the characters take about five sixths.
  const int pixels = font.Height < 0 ? -font.Height : (font.Height * 5 + 3) / 6;
  f.setPixelSize(pixels > 0 ? pixels : 11);
  f.setBold((font.Style & gui::fsBold) != 0);
  f.setItalic((font.Style & gui::fsItalic) != 0);
  f.setUnderline((font.Style & gui::fsUnderline) != 0);
  return f;
}

QColor ToQColor(gui::Color colour) {
  return QColor(colour.r, colour.g, colour.b);
}

QString ToQString(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) {
  return text.toLatin1().toStdString();
}

QPixmap Picture(const std::string& name) {
  if (name.empty()) return {};
  return QPixmap(ResourcePath(name));
}

QPixmap Glyph(const std::string& name) {
  if (name.empty()) return {};
  const QImage image(ResourcePath(name));
  if (image.isNull()) return {};
  QPixmap pixmap = QPixmap::fromImage(image);
  const QRgb key = image.pixel(0, image.height() - 1);
  pixmap.setMask(QBitmap::fromImage(image.createMaskFromColor(key, Qt::MaskInColor)));
  return pixmap;
}

QIcon WindowIcon(const std::string& name) {
  if (name.empty()) return {};
  return QIcon(ResourcePath(name));
}

}  // namespace gui::qt
