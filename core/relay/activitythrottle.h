#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>

// A line that one host sets off again and again (refused connections,
// registrations past the limit, dropped clients) reaches the activity list
// and the journal once at once, then at most once a minute as a count of
// the lines held back: thousands of lines a second told nothing more.
class ActivityThrottle : public QObject {
  Q_OBJECT
 public:
  using LineSink = std::function<void(const QByteArray& line)>;
  static constexpr int kWindowMs = 60000;

  explicit ActivityThrottle(LineSink sink, QObject* parent = nullptr);

  // kind: any number that names the kind of line; host: who set it off.
  void Report(int kind, const QByteArray& host, const QByteArray& line);

 private:
  struct Held {
    QByteArray lastLine;
    int count = 0;
  };
  void OnWindowEnd();

  LineSink m_sink;
  QHash<QByteArray, Held> m_held;  // by kind and host; a key stays for a window after its line
  QTimer m_window;
};
