#include "support/testwindow.h"

#include <QSettings>
#include <QTcpServer>

#include "telephony/cp949.h"

MessageAnswer ScriptedPresenter::Show(QWidget*, const QString& caption, const QByteArray& text,
                                      MessageButtons buttons, MessageIcon icon) {
  shown.push_back({caption, FromCp949(text), buttons, icon});
  if (answers.empty())
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  const MessageAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

quint16 FreeTcpPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

TestEnvironment::TestEnvironment()
    : logDirectory(directory.filePath(QStringLiteral("CIDLog"))),
      extPort(FreeTcpPort()),
      ldkPort(FreeTcpPort()) {
  while (ldkPort == extPort) ldkPort = FreeTcpPort();
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     directory.filePath(QStringLiteral("settings")));
}

SettingsStore& TestEnvironment::Settings() {
  if (!m_settings) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       directory.filePath(QStringLiteral("settings")));
    m_settings = std::make_unique<SettingsStore>(QStringLiteral("MERVO"), QStringLiteral("Tarvex"));
  }
  return *m_settings;
}

MainWindowContext TestEnvironment::Context(TelControlFactory factory) {
  MainWindowContext context;
  context.applicationName = QStringLiteral("Tarvex");
  context.settings = &Settings();
  context.presenter = &presenter;
  context.telControlFactory = std::move(factory);
  context.logDirectory = logDirectory;
  context.extPort = extPort;
  context.ldkPort = ldkPort;
  context.clock = [this] { return clock(); };
  return context;
}

std::unique_ptr<CTarvexCentrixDlg> StartWindow(TestEnvironment& environment,
                                               TelControlFactory factory) {
  auto window = std::make_unique<CTarvexCentrixDlg>(environment.Context(std::move(factory)));
  window->CreateTelephonyControls();
  window->OnInitDialog();
  return window;
}
