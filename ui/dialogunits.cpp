#include "ui/dialogunits.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <cmath>

DialogUnits::DialogUnits(const QFont& font, double scale) : m_scale(scale) {
  const QFontMetrics metrics(font);
  const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  m_baseX = std::max(1, (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2);
  m_baseY = std::max(1, metrics.height());
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
  const auto scaled = [this](int units, int base, int per) {
    return int(std::lround(units * base * m_scale / per));
  };
  return QRect(scaled(x, m_baseX, 4), scaled(y, m_baseY, 8), scaled(width, m_baseX, 4),
               scaled(height, m_baseY, 8));
}

void DialogUnits::Place(QWidget* widget, int id, const QRect& rect) {
  widget->setGeometry(ToPixels(rect.x(), rect.y(), rect.width(), rect.height()));
  m_placed.push_back({widget, rect});
  if (id == 0) return;
  widget->setObjectName(QStringLiteral("ctl%1").arg(id));
  widget->setProperty("controlId", id);
}

namespace {

// Width the control needs for its text. A push button's size hint holds the
// style's minimum button width, which is no need of the text.
int TextWidthNeeded(QWidget* widget) {
  if (auto* button = qobject_cast<QPushButton*>(widget)) {
    const QStyle* style = button->style();
    return button->fontMetrics().horizontalAdvance(button->text()) +
           2 * (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
  }
  if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
      qobject_cast<QComboBox*>(widget)) {
    return widget->sizeHint().width();
  }
  return 0;
}

}  // namespace

void DialogUnits::FitContents() {
  double needed = 1.0;
  for (const Placed& placed : m_placed) {
    needed = std::max(needed,
                      double(TextWidthNeeded(placed.widget)) / std::max(1, placed.widget->width()));
  }
  if (needed <= 1.0) return;
  m_scale = needed;
  for (const Placed& placed : m_placed) {
    const QRect& rect = placed.rect;
    placed.widget->setGeometry(ToPixels(rect.x(), rect.y(), rect.width(), rect.height()));
  }
}

QFont MainDialogFont() {
  QFont font(QStringLiteral("굴림체"));
  font.setFamilies(QStringList() << QStringLiteral("굴림체") << QStringLiteral("GulimChe")
                                 << QStringLiteral("NanumGothicCoding")
                                 << QStringLiteral("NanumGothic") << QStringLiteral("monospace"));
  font.setPointSize(9);
  return font;
}
