#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "support/handlercore.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"
#include "tools/telsim/telephonyserver.h"

// The real relay on a simulated telephony server, with healthy clients, for
// the fault tests: calls whose caller numbers carry their sequence.
inline constexpr int kNoticeWaitMs = 60000;
inline const QString kInbound = QStringLiteral("0212345678");

struct Account {
  QString id;
  QString password;
  QString number;
};
// Account n (from 1): agent30n with extension 30n.
inline Account AccountOf(int n) {
  const QString extension = QString::number(300 + n);
  return {QStringLiteral("agent") + extension, QStringLiteral("pw") + extension,
          QStringLiteral("07012345") + extension};
}

// A caller's number carries its call's sequence: "010" and eight digits,
// long enough to be relayed and recorded, short enough to arrive whole.
inline QString CallerOf(int sequence) {
  return QStringLiteral("010%1").arg(sequence, 8, 10, QLatin1Char('0'));
}
inline int SequenceOf(const QByteArray& caller) {
  return caller.size() == 11 && caller.startsWith("010") ? caller.mid(3).toInt() : -1;
}

// Adds the LDK505 ring lines in received to counts, by call sequence.
inline void CountLdkLines(const QByteArray& received, std::map<int, int>& counts) {
  for (const QByteArray& line : received.split('\n')) {
    const qsizetype colon = line.indexOf(" : ");
    if (line.startsWith('\x07') && colon > 0) ++counts[SequenceOf(line.mid(colon + 3))];
  }
}

// What the clients that behave received, by call sequence.
struct Received {
  std::map<int, int> rings;     // 24-byte records with state 0
  std::map<int, int> answers;   // 24-byte records with state 1
  std::map<int, int> ldkRings;  // LDK505 ring lines (one per notice, of either state)
};

// The relay binary with two accounts on a simulated telephony server in
// this process, send type "always, with database record", centre code 1,
// and one extension client and one LDK505 client that read everything.
class RelayUnderFault {
 public:
  // adjust: changes to the relay's options, if any.
  RelayUnderFault(const std::string& odbc, int descriptorLimit, int accountCount,
                  const std::function<void(RelayProcess::Options&)>& adjust = {})
      : m_accountCount(accountCount) {
    for (int n = 1; n <= accountCount; ++n) {
      const Account account = AccountOf(n);
      TelAccount known;
      known.id = account.id;
      known.password = account.password;
      known.number = account.number;
      telsim.AddAccount(known);
    }
    RelayProcess::Options options;
    options.odbc = odbc;
    options.configHome = m_config.path();
    options.descriptorLimit = descriptorLimit;
    // Kept over a restart: what the killed relay left is written by the next.
    options.stateDirectory = m_config.filePath(QStringLiteral("state"));
    if (adjust) adjust(options);
    m_options = options;
  }

  // Relay up, both accounts signed in, the healthy clients connected.
  ::testing::AssertionResult Start() {
    if (!telsim.Listen(0))
      return ::testing::AssertionFailure() << "telsim: " << telsim.ErrorString().toStdString();
    QDir(m_config.path()).mkpath(QStringLiteral("MERVO"));
    QFile settings(m_config.filePath(QStringLiteral("MERVO/Tarvex.conf")));
    if (!settings.open(QIODevice::WriteOnly)) return ::testing::AssertionFailure() << "settings";
    QByteArray text = "[SETTING]\n";
    for (int n = 1; n <= m_accountCount; ++n) {
      const Account account = AccountOf(n);
      text += QStringLiteral("UID%1=%2\nPWD%1=%3\nSERVERIP%1=127.0.0.1\n")
                  .arg(n)
                  .arg(account.id, account.password)
                  .toUtf8();
    }
    text += "SENDTYPE=2\nCENTERID=1\nLOGTYPE=0\n" + extraSettings;
    settings.write(text);
    settings.close();

    m_options.telPort = telsim.Port();
    if (::testing::AssertionResult started = StartRelay(); !started) return started;
    QStringList extensions;
    for (int n = 1; n <= m_accountCount; ++n) extensions << QString::number(300 + n);
    if (!m_ext.Register(relay->options().extPort, extensions.join(',').toLatin1())) {
      return ::testing::AssertionFailure() << "extension client";
    }
    m_ldk = std::make_unique<TestClient>(relay->options().ldkPort);
    if (!m_ldk->WaitForBytes(GreetingText().size())) return ::testing::AssertionFailure() << "LDK";
    return ::testing::AssertionSuccess();
  }

  // The relay process up and its accounts signed in; the clients are not
  // connected again.
  ::testing::AssertionResult StartRelay() {
    relay = std::make_unique<RelayProcess>(m_options);
    if (!relay->Start() || !relay->WaitListening()) {
      return ::testing::AssertionFailure() << relay->StandardError().toStdString();
    }
    if (!WaitUntil([&] { return telsim.SignedInAccounts().size() == qsizetype(m_accountCount); },
                   kNoticeWaitMs)) {
      return ::testing::AssertionFailure() << "sign-in: " << relay->StandardError().toStdString();
    }
    return ::testing::AssertionSuccess();
  }

  quint16 ExtPort() const { return relay->options().extPort; }
  quint16 LdkPort() const { return relay->options().ldkPort; }

  // A call as the server reports it: ringing, answered from outside, ended.
  void Call(int sequence, const QString& accountId = AccountOf(1).id) {
    const QString caller = CallerOf(sequence);
    telsim.SendRing(accountId, caller, kInbound, false);
    telsim.SendHangUp(accountId, caller, kInbound, QStringLiteral("trunk"));
    telsim.SendCallEnd(accountId);
    m_sent.insert(sequence);
  }

  // A ringing that nobody answers.
  void Ring(int sequence) { telsim.SendRing(AccountOf(1).id, CallerOf(sequence), kInbound, false); }

  Received WhatArrived() {
    Received received;
    for (const QByteArray& record : m_ext.Records()) {
      const CallNotice notice = DecodeCallNotice(record);
      auto& counts = notice.state == kCallStateRinging ? received.rings : received.answers;
      ++counts[SequenceOf(CallerIdText(notice))];
    }
    CountLdkLines(m_ldk->Received(), received.ldkRings);
    return received;
  }

  // Every call sent so far reached both healthy clients, each notice once.
  ::testing::AssertionResult EveryCallArrived() {
    std::map<int, int> once, twice;
    for (int sequence : m_sent) {
      once[sequence] = 1;
      twice[sequence] = 2;  // the ring and the answer notice
    }
    Received received;
    const auto complete = [&] {
      received = WhatArrived();
      return received.rings == once && received.answers == once && received.ldkRings == twice;
    };
    if (WaitUntil(complete, kNoticeWaitMs)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << m_sent.size() << " calls sent; extension client: " << received.rings.size()
           << " rings, " << received.answers.size()
           << " answers; LDK505 client: " << received.ldkRings.size() << " calls";
  }

  int StderrCount(const QString& text) { return int(relay->StandardError().count(text)); }

  TelephonyServer telsim;
  std::unique_ptr<RelayProcess> relay;
  QByteArray extraSettings;  // more lines of the settings file

 private:
  const int m_accountCount;
  QTemporaryDir m_config;
  RelayProcess::Options m_options;
  handlertest::NoticeClient m_ext;
  std::unique_ptr<TestClient> m_ldk;
  QSet<int> m_sent;
};
