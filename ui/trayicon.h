#pragma once

#include <QByteArray>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

// The notification-area icon: added at start-up, removed with its owner.
class CTrayIcon : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxTipBytes = 63;

  CTrayIcon() = default;
  ~CTrayIcon() override;

  // False when the platform has no notification area.
  bool Create(QObject* owner, const QByteArray& tip, unsigned iconId);
  void SetIcon(const QIcon& icon);
  void Remove();
  bool IsShown() const { return m_icon != nullptr; }
  QString Tip() const;

 signals:
  void Activated(QSystemTrayIcon::ActivationReason reason);

 private:
  std::unique_ptr<QSystemTrayIcon> m_icon;
  unsigned m_iconId = 0;
};
