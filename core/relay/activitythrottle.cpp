#include "core/relay/activitythrottle.h"

#include "core/text/cp949.h"

ActivityThrottle::ActivityThrottle(LineSink sink, QObject* parent)
    : QObject(parent), m_sink(std::move(sink)) {
  m_window.setInterval(kWindowMs);
  m_window.callOnTimeout(this, &ActivityThrottle::OnWindowEnd);
}

void ActivityThrottle::Report(int kind, const QByteArray& host, const QByteArray& line) {
  const QByteArray key = QByteArray::number(kind) + ' ' + host;
  const auto held = m_held.find(key);
  if (held != m_held.end()) {
    held->lastLine = line;
    ++held->count;
    return;
  }
  m_held.insert(key, {});
  if (!m_window.isActive()) m_window.start();
  m_sink(line);
}

// A key with nothing held back goes, so its next line is shown at once.
void ActivityThrottle::OnWindowEnd() {
  for (auto held = m_held.begin(); held != m_held.end();) {
    if (held->count == 0) {
      held = m_held.erase(held);
      continue;
    }
    m_sink(held->lastLine +
           ToCp949(QStringLiteral(" (1분 동안 같은 알림 %1건 더)").arg(held->count)));
    held->count = 0;
    ++held;
  }
  if (m_held.isEmpty()) m_window.stop();
}
