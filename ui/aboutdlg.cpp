#include "ui/aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/dialogunits.h"

namespace {
constexpr int kIdOk = 1;
}

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlg100"));
  setWindowTitle(QStringLiteral("Tarvex 정보"));
  DialogUnits units(font());

  auto* iconLabel = new QLabel(this);
  iconLabel->setPixmap(icon.pixmap(32, 32));
  units.Place(iconLabel, 0, QRect(11, 17, 20, 20));

  auto* version = new QLabel(QStringLiteral("Tarvex 버전 1.0"), this);
  version->setObjectName(QStringLiteral("versionText"));
  units.Place(version, 0, QRect(40, 14, 119, 8));

  auto* ok = new QPushButton(QStringLiteral("확인"), this);
  ok->setDefault(true);
  units.Place(ok, kIdOk, QRect(178, 7, 50, 16));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  units.FitContents();
  setFixedSize(units.ToPixels(0, 0, 235, 55).size());
}
