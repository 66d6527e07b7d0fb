#pragma once

#include <QDialog>

// About box: icon, name and version, an OK button.
class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
};
