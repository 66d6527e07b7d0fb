#include "televentrecorder.h"

#include "core/telephony/telbaseopenapi.h"

void RecordTelEvents(CTelBaseOpenApi& control, QList<TelEvent>& events) {
  const auto record = [&events](const QString& name) {
    return [&events, name](int controlId, const QString& text) {
      events.append({name, controlId, text});
    };
  };
  QObject::connect(&control, &CTelBaseOpenApi::LoginResult, &control,
                   record(QStringLiteral("LoginResult")));
  QObject::connect(&control, &CTelBaseOpenApi::Ring, &control, record(QStringLiteral("Ring")));
  QObject::connect(&control, &CTelBaseOpenApi::HangUp, &control, record(QStringLiteral("HangUp")));
  QObject::connect(&control, &CTelBaseOpenApi::CallEnd, &control,
                   record(QStringLiteral("CallEnd")));
}

QList<TelEvent> TelEventsNamed(const QList<TelEvent>& events, const QString& name) {
  QList<TelEvent> named;
  for (const TelEvent& event : events) {
    if (event.name == name) {
      named.append(event);
    }
  }
  return named;
}
