#include "support/faketelcontrol.h"

FakeTelControl::FakeTelControl(int controlId, std::shared_ptr<TelCallJournal> journal)
    : CTelBaseOpenApi(controlId), m_journal(std::move(journal)) {}

bool FakeTelControl::IsLoggedIn() {
  Record(TelMethodId::IsLoggedIn);
  return loggedIn;
}

void FakeTelControl::Logout() {
  Record(TelMethodId::Logout);
  loggedIn = false;
}

bool FakeTelControl::LoginDCS(const QByteArray& id, const QByteArray& pwd,
                              const QByteArray& serverAddress) {
  Record(TelMethodId::LoginDCS, id, pwd, serverAddress);
  return loginDcsAnswer;
}

bool FakeTelControl::Login(const QByteArray& id, const QByteArray& pwd,
                           const QByteArray& serverAddress) {
  Record(TelMethodId::Login, id, pwd, serverAddress);
  return loginAnswer;
}

void FakeTelControl::Record(TelMethodId method, const QByteArray& id, const QByteArray& pwd,
                            const QByteArray& serverAddress) {
  m_journal->push_back({ControlId() - kFirstTelControlId, method, id, pwd, serverAddress});
}

FakeTelControls::FakeTelControls() : m_journal(std::make_shared<TelCallJournal>()) {}

TelControlFactory FakeTelControls::Factory() {
  return [this](int controlId) {
    auto control = std::make_unique<FakeTelControl>(controlId, m_journal);
    control->loggedIn = loggedIn;
    control->loginAnswer = loginAnswer;
    control->loginDcsAnswer = loginAnswer;
    m_controls[size_t(controlId - kFirstTelControlId)] = control.get();
    return control;
  };
}

TelCallJournal FakeTelControls::CallsOf(int slot) const {
  TelCallJournal calls;
  for (const TelCall& call : *m_journal) {
    if (call.slot == slot) calls.push_back(call);
  }
  return calls;
}
