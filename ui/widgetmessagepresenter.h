#pragma once

#include "core/config/messagepresenter.h"

// Real message boxes on a display, over the active window.
class WidgetMessagePresenter : public MessagePresenter {
 public:
  MessageAnswer Show(const QString& caption, const QByteArray& text, MessageButtons buttons,
                     MessageIcon icon) override;
};
