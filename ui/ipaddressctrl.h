#pragma once

#include <QLineEdit>
#include <QWidget>
#include <array>

#include "core/telephony/storedaddress.h"

// An IPv4 address entry: four small fields of 0 to 255 between dots.
class CIPAddressCtrl : public QWidget {
  Q_OBJECT
 public:
  explicit CIPAddressCtrl(QWidget* parent = nullptr);

  void SetAddress(const AddressFields& fields);
  // Blank fields read as 0.
  AddressFields GetAddress() const;
  QLineEdit* Field(int index) const { return m_fields[size_t(index)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<QLineEdit*, 4> m_fields{};
};
