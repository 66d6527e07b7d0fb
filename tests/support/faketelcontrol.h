#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <memory>
#include <vector>

#include "core/telephony/telbaseopenapi.h"

// One method call that reached a fake control.
struct TelCall {
  int slot;
  TelMethodId method;
  QByteArray id;
  QByteArray pwd;
  QByteArray serverAddress;

  bool operator==(const TelCall&) const = default;
};

// What the fakes were asked, in order, kept apart from the controls so that it
// outlives the window that owns them.
using TelCallJournal = std::vector<TelCall>;

// A telephony control that records its calls, answers from a script and raises
// events on demand.
class FakeTelControl : public CTelBaseOpenApi {
  Q_OBJECT
 public:
  FakeTelControl(int controlId, std::shared_ptr<TelCallJournal> journal);

  bool IsLoggedIn() override;
  void Logout() override;
  bool LoginDCS(const QByteArray& id, const QByteArray& pwd,
                const QByteArray& serverAddress) override;
  bool Login(const QByteArray& id, const QByteArray& pwd, const QByteArray& serverAddress) override;

  void RaiseLoginResult(const QString& text) { emit LoginResult(ControlId(), text); }
  void RaiseRing(const QString& text) { emit Ring(ControlId(), text); }
  void RaiseHangUp(const QString& text) { emit HangUp(ControlId(), text); }
  void RaiseCallEnd(const QString& text) { emit CallEnd(ControlId(), text); }

  bool loggedIn = false;
  bool loginAnswer = true;
  bool loginDcsAnswer = true;

 private:
  void Record(TelMethodId method, const QByteArray& id = {}, const QByteArray& pwd = {},
              const QByteArray& serverAddress = {});

  std::shared_ptr<TelCallJournal> m_journal;
};

// Makes the 60 fakes of one window and keeps them at hand by slot.
class FakeTelControls {
 public:
  FakeTelControls();

  // Each call makes a new set (a new window); the previous fakes belong to their window.
  TelControlFactory Factory();
  FakeTelControl& operator[](int slot) const { return *m_controls[size_t(slot)]; }
  const TelCallJournal& Calls() const { return *m_journal; }
  // The calls that reached one slot.
  TelCallJournal CallsOf(int slot) const;
  void ClearCalls() { m_journal->clear(); }

  // Answers of every fake made from now on.
  bool loggedIn = false;
  bool loginAnswer = true;

 private:
  std::shared_ptr<TelCallJournal> m_journal;
  std::array<FakeTelControl*, kTelControlCount> m_controls{};
};
