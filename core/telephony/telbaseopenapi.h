#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// Dispatch ids of the telephony control's methods; tests name the calls by them.
enum class TelMethodId { IsLoggedIn = 3, Logout = 4, LoginDCS = 9, Login = 16 };

constexpr int kFirstTelControlId = 1028;
constexpr int kTelControlCount = 60;

// The telephony control of the first kind, one per account slot. String
// arguments are CP949 bytes; event texts arrive as UTF-16 (a null QString
// stands for a null text).
class CTelBaseOpenApi : public QObject {
  Q_OBJECT
 public:
  explicit CTelBaseOpenApi(int controlId, QObject* parent = nullptr)
      : QObject(parent), m_nControlId(controlId) {}

  int ControlId() const { return m_nControlId; }

  virtual bool IsLoggedIn() = 0;
  virtual void Logout() = 0;
  // TRUE when the request could be sent; the outcome arrives as LoginResult.
  virtual bool LoginDCS(const QByteArray& id, const QByteArray& pwd,
                        const QByteArray& serverAddress) = 0;
  virtual bool Login(const QByteArray& id, const QByteArray& pwd,
                     const QByteArray& serverAddress) = 0;

 signals:
  void LoginResult(int controlId, const QString& text);
  void Ring(int controlId, const QString& text);
  void HangUp(int controlId, const QString& text);
  void CallEnd(int controlId, const QString& text);

 private:
  int m_nControlId;
};

using TelControlFactory = std::function<std::unique_ptr<CTelBaseOpenApi>(int controlId)>;
