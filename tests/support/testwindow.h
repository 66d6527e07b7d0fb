#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <vector>

#include "app/messagepresenter.h"
#include "app/settingsstore.h"
#include "ui/tarvexdlg.h"

// Records every message box and answers from a script (No and Ok when empty).
class ScriptedPresenter : public MessagePresenter {
 public:
  struct Shown {
    QString caption;
    QString text;  // converted from CP949
    MessageButtons buttons;
    MessageIcon icon;
  };

  MessageAnswer Show(QWidget* parent, const QString& caption, const QByteArray& text,
                     MessageButtons buttons, MessageIcon icon) override;

  std::deque<MessageAnswer> answers;
  std::vector<Shown> shown;
};

// A free TCP port on loopback at the time of the call.
quint16 FreeTcpPort();

// Everything a window under test needs, in a temporary directory: its own
// settings store, log directory, ports and presenter.
class TestEnvironment {
 public:
  TestEnvironment();

  // A store on this environment's settings file, as a new program run sees it.
  SettingsStore& Settings();
  void RestartSettings() { m_settings.reset(); }
  MainWindowContext Context(TelControlFactory factory = {});

  QTemporaryDir directory;
  QString logDirectory;
  quint16 extPort;
  quint16 ldkPort;
  ScriptedPresenter presenter;
  std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

 private:
  std::unique_ptr<SettingsStore> m_settings;
};

// A window that has run its start-up steps, with controls from the factory.
std::unique_ptr<CTarvexCentrixDlg> StartWindow(TestEnvironment& environment,
                                               TelControlFactory factory);
