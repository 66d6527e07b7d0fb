#pragma once

#include <QFont>
#include <QRect>

// Converts dialog-template units to pixels with the metrics of the dialog's
// font, as the window system does: x by a quarter of the average character
// width, y by an eighth of the character height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  QRect ToPixels(int x, int y, int width, int height) const;
  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }

 private:
  int m_baseX;
  int m_baseY;
};

// The dialog font of the main window: "굴림체" 9 point, with a Korean fallback.
QFont MainDialogFont();
