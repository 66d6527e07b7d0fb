#include "ui/dialogunits.h"

#include <QFontMetrics>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <algorithm>

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  m_baseX = std::max(1, (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2);
  m_baseY = std::max(1, metrics.height());
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
  return QRect(x * m_baseX / 4, y * m_baseY / 8, width * m_baseX / 4, height * m_baseY / 8);
}

void DialogUnits::Place(QWidget* widget, int id, const QRect& rect) const {
  widget->setGeometry(ToPixels(rect.x(), rect.y(), rect.width(), rect.height()));
  if (id == 0) return;
  widget->setObjectName(QStringLiteral("ctl%1").arg(id));
  widget->setProperty("controlId", id);
}

QFont MainDialogFont() {
  QFont font(QStringLiteral("굴림체"));
  font.setFamilies(QStringList() << QStringLiteral("굴림체") << QStringLiteral("GulimChe")
                                 << QStringLiteral("NanumGothicCoding")
                                 << QStringLiteral("NanumGothic") << QStringLiteral("monospace"));
  font.setPointSize(9);
  return font;
}
