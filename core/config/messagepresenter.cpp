#include "core/config/messagepresenter.h"

#include <cstdio>

#include "core/text/cp949.h"

MessageAnswer HeadlessMessagePresenter::Show(const QString& caption, const QByteArray& text,
                                             MessageButtons buttons, MessageIcon) {
  std::fprintf(stderr, "%s: %s\n", caption.toUtf8().constData(),
               FromCp949(text).toUtf8().constData());
  std::fflush(stderr);
  return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}
