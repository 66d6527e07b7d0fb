#pragma once

#include <QFont>
#include <QRect>
#include <vector>

class QWidget;

// Converts dialog-template units to pixels with the metrics of the dialog's
// font, as the window system does: x by a quarter of the average character
// width, y by an eighth of the character height.
class DialogUnits {
 public:
  // scale: a factor FitContents() found before, for the same font.
  explicit DialogUnits(const QFont& font, double scale = 1.0);

  QRect ToPixels(int x, int y, int width, int height) const;
  // Puts widget where rect (template units) says. A control with an id other
  // than 0 is named "ctl<id>" and carries the id as property "controlId",
  // which is how tests and tools find it.
  void Place(QWidget* widget, int id, const QRect& rect);
  // Enlarges the units evenly, on both axes, until the text of every placed
  // label, button and drop-down list fits its control, and places them again.
  // The template was drawn for the metrics of one Windows font; another face
  // or widget style needs more room here and there.
  void FitContents();
  double Scale() const { return m_scale; }

 private:
  struct Placed {
    QWidget* widget;
    QRect rect;
  };

  int m_baseX;
  int m_baseY;
  double m_scale = 1.0;
  std::vector<Placed> m_placed;
};

// The dialog font of the main window: "굴림체" 9 point, or the nearest
// monospaced Korean face where it is missing.
QFont MainDialogFont();
