#pragma once

#include <QList>
#include <QString>

class CTelBaseOpenApi;

// One event as a telephony control raised it.
struct TelEvent {
  QString name;  // LoginResult, Ring, HangUp or CallEnd
  int controlId;
  QString text;
};

// Appends every event of control to events, which must outlive the control.
void RecordTelEvents(CTelBaseOpenApi& control, QList<TelEvent>& events);

// The events named name, in order.
QList<TelEvent> TelEventsNamed(const QList<TelEvent>& events, const QString& name);
