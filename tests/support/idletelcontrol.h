#pragma once

#include "core/telephony/telbaseopenapi.h"

// A control that never signs in and raises no event; every request is taken.
class IdleTelControl : public CTelBaseOpenApi {
 public:
  using CTelBaseOpenApi::CTelBaseOpenApi;
  bool IsLoggedIn() override { return false; }
  void Logout() override {}
  bool LoginDCS(const QByteArray&, const QByteArray&, const QByteArray&) override { return true; }
  bool Login(const QByteArray&, const QByteArray&, const QByteArray&) override { return true; }
};
