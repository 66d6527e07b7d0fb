#pragma once

#include <QFont>
#include <QRect>

class QWidget;

// Converts dialog-template units to pixels with the metrics of the dialog's
// font, as the window system does: x by a quarter of the average character
// width, y by an eighth of the character height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  QRect ToPixels(int x, int y, int width, int height) const;
  // Puts widget where rect (template units) says. A control with an id other
  // than 0 is named "ctl<id>" and carries the id as property "controlId",
  // which is how tests and tools find it.
  void Place(QWidget* widget, int id, const QRect& rect) const;
  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }

 private:
  int m_baseX;
  int m_baseY;
};

// The dialog font of the main window: "굴림체" 9 point, with a Korean fallback.
QFont MainDialogFont();
