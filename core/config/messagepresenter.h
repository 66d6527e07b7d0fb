#pragma once

#include <QByteArray>
#include <QString>

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Exclamation, Question };
enum class MessageAnswer { Ok, Yes, No };

// Shows the program's message boxes; tests script the answers.
class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // text is CP949; caption is the application name.
  virtual MessageAnswer Show(const QString& caption, const QByteArray& text, MessageButtons buttons,
                             MessageIcon icon) = 0;
};

// Without a display: the text goes to standard error; a question is answered
// No, so nothing headless ends the relay by accident.
class HeadlessMessagePresenter : public MessagePresenter {
 public:
  MessageAnswer Show(const QString& caption, const QByteArray& text, MessageButtons buttons,
                     MessageIcon icon) override;
};
