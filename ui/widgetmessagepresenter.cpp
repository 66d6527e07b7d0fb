#include "ui/widgetmessagepresenter.h"

#include <QApplication>
#include <QMessageBox>

#include "core/text/cp949.h"

MessageAnswer WidgetMessagePresenter::Show(const QString& caption, const QByteArray& text,
                                           MessageButtons buttons, MessageIcon icon) {
  QMessageBox box(QApplication::activeWindow());
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
