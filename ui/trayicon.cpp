#include "ui/trayicon.h"

#include "core/text/cp949.h"

CTrayIcon::~CTrayIcon() { Remove(); }

bool CTrayIcon::Create(QObject* owner, const QByteArray& tip, unsigned iconId) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  m_iconId = iconId;
  m_icon = std::make_unique<QSystemTrayIcon>(owner);
  m_icon->setToolTip(FromCp949(tip.left(kMaxTipBytes)));
  connect(m_icon.get(), &QSystemTrayIcon::activated, this, &CTrayIcon::Activated);
  m_icon->show();
  return true;
}

void CTrayIcon::SetIcon(const QIcon& icon) {
  if (m_icon) m_icon->setIcon(icon);
}

void CTrayIcon::Remove() {
  if (!m_icon) return;
  m_icon->hide();
  m_icon.reset();
}

QString CTrayIcon::Tip() const { return m_icon ? m_icon->toolTip() : QString(); }
