#include "ui/dlgsetport.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>

#include "core/telephony/storedaddress.h"
#include "core/text/cp949.h"
#include "ui/dialogunits.h"

namespace {

constexpr int kTemplateWidth = 271;
constexpr int kTemplateHeight = 63;

QFont SetPortDialogFont() {
  QFont font(QStringLiteral("MS Shell Dlg"));
  font.setFamilies({QStringLiteral("MS Shell Dlg"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("DejaVu Sans"), QStringLiteral("sans-serif")});
  font.setPointSize(8);
  return font;
}

}  // namespace

CDlgSetPort::CDlgSetPort(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlg133"));
  setWindowTitle(QStringLiteral("통신환경 설정"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);
  setFont(SetPortDialogFont());
  DialogUnits units(font());

  const char* const labels[] = {"ID", "PWD", "IP"};
  for (int i = 0; i < 3; ++i) {
    auto* label = new QLabel(QString::fromLatin1(labels[i]), this);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    units.Place(label, 0, QRect(7, 7 + 17 * i, 64, 13));
  }
  m_editID = new QLineEdit(this);
  units.Place(m_editID, IDC_EDIT_ID, QRect(75, 7, 100, 14));
  m_editPWD = new QLineEdit(this);  // the password is shown in plain text
  units.Place(m_editPWD, IDC_EDIT_PWD, QRect(75, 24, 100, 14));
  m_ctlIP = new CIPAddressCtrl(this);
  units.Place(m_ctlIP, IDC_IPADDRESS_SERVER, QRect(75, 41, 100, 15));

  auto* signIn = new QPushButton(QStringLiteral("로그인"), this);
  signIn->setDefault(true);
  units.Place(signIn, kSetPortSignIn, QRect(208, 7, 56, 23));
  auto* signOut = new QPushButton(QStringLiteral("로그아웃"), this);
  units.Place(signOut, kSetPortSignOut, QRect(208, 33, 56, 23));
  connect(signIn, &QPushButton::clicked, this, &CDlgSetPort::OnOK);
  connect(signOut, &QPushButton::clicked, this, &CDlgSetPort::reject);
  units.FitContents();
  setFixedSize(units.ToPixels(0, 0, kTemplateWidth, kTemplateHeight).size());
}

int CDlgSetPort::DoModal() {
  OnInitDialog();
  return exec();
}

void CDlgSetPort::OnInitDialog() {
  m_editID->setText(FromCp949(m_strID));
  m_editPWD->setText(FromCp949(m_strPWD));
  m_ctlIP->SetAddress(ParseStoredAddress(m_strIP));
  m_editID->setFocus();
}

void CDlgSetPort::OnOK() {
  m_strID = ToCp949(m_editID->text());
  m_strPWD = ToCp949(m_editPWD->text());
  m_strIP = FormatEnteredAddress(m_ctlIP->GetAddress());
  done(kSetPortSignIn);
}

// Enter without a default button would come here; it signs in like the button.
void CDlgSetPort::accept() { OnOK(); }

// Escape and the close box end the dialog as "로그아웃" does.
void CDlgSetPort::reject() { done(kSetPortSignOut); }
