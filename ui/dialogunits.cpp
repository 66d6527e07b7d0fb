#include "ui/dialogunits.h"

#include <QFontMetrics>
#include <QStringList>
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

QFont MainDialogFont() {
  QFont font(QStringLiteral("굴림체"));
  font.setFamilies(QStringList() << QStringLiteral("굴림체") << QStringLiteral("GulimChe")
                                 << QStringLiteral("NanumGothicCoding")
                                 << QStringLiteral("NanumGothic") << QStringLiteral("monospace"));
  font.setPointSize(9);
  return font;
}
