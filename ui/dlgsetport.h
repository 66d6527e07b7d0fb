#pragma once

#include <QByteArray>
#include <QDialog>
#include <QLineEdit>

#include "ui/ipaddressctrl.h"

// Control ids of template 133.
enum SetPortControlId {
  IDC_IPADDRESS_SERVER = 1092,
  IDC_EDIT_ID = 1093,
  IDC_EDIT_PWD = 1094,
};

// Dialog results: "로그인" ends with 1; "로그아웃", Escape and the close box with 2.
constexpr int kSetPortSignIn = 1;
constexpr int kSetPortSignOut = 2;

// The communication settings of one account: ID, password and server address.
class CDlgSetPort : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgSetPort(QWidget* parent = nullptr);

  // Shows the members in the controls, then runs the dialog modally.
  int DoModal();
  // Shows the members in the controls.
  void OnInitDialog();
  // "로그인": reads the controls back into the members and ends with 1.
  void OnOK();

  void accept() override;
  void reject() override;

  QLineEdit* EditId() const { return m_editID; }
  QLineEdit* EditPassword() const { return m_editPWD; }

  int m_nSlot = 0;  // slot number n + 1, not shown
  QByteArray m_strID;
  QByteArray m_strPWD;
  QByteArray m_strIP;  // dotted server address, CP949
  CIPAddressCtrl* m_ctlIP = nullptr;

 private:
  QLineEdit* m_editID = nullptr;
  QLineEdit* m_editPWD = nullptr;
};
