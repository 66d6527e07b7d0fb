#include "core/config/messagepresenter.h"

#include "core/log/journalstream.h"
#include "core/text/cp949.h"

// Headless, a message box with only OK tells of a failure; a question is a warning.
MessageAnswer HeadlessMessagePresenter::Show(const QString& caption, const QByteArray& text,
                                             MessageButtons buttons, MessageIcon) {
  const bool question = buttons == MessageButtons::YesNo;
  WriteJournalLine(question ? JournalPriority::Warning : JournalPriority::Error,
                   (caption + QStringLiteral(": ") + FromCp949(text)).toUtf8());
  return question ? MessageAnswer::No : MessageAnswer::Ok;
}
