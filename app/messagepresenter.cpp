#include "app/messagepresenter.h"

#include <QMessageBox>
#include <cstdio>

#include "telephony/cp949.h"

MessageAnswer WidgetMessagePresenter::Show(QWidget* parent, const QString& caption,
                                           const QByteArray& text, MessageButtons buttons,
                                           MessageIcon icon) {
  QMessageBox box(parent);
  box.setWindowTitle(caption);
  box.setText(FromCp949(text));
  box.setIcon(icon == MessageIcon::Exclamation ? QMessageBox::Warning
              : icon == MessageIcon::Question  ? QMessageBox::Question
                                               : QMessageBox::NoIcon);
  if (buttons == MessageButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return MessageAnswer::Ok;
}

MessageAnswer HeadlessMessagePresenter::Show(QWidget*, const QString& caption,
                                             const QByteArray& text, MessageButtons buttons,
                                             MessageIcon) {
  std::fprintf(stderr, "%s: %s\n", caption.toUtf8().constData(),
               FromCp949(text).toUtf8().constData());
  std::fflush(stderr);
  return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}
