#include "ui/ipaddressctrl.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <algorithm>

namespace {
constexpr int kFieldMax = 255;
constexpr int kFieldDigits = 3;
}  // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (size_t i = 0; i < m_fields.size(); ++i) {
    if (i > 0) layout->addWidget(new QLabel(QStringLiteral("."), this));
    auto* field = new QLineEdit(this);
    field->setObjectName(QStringLiteral("field%1").arg(i));
    field->setAlignment(Qt::AlignCenter);
    field->setMaxLength(kFieldDigits);
    field->setValidator(new QIntValidator(0, kFieldMax, field));
    field->installEventFilter(this);
    layout->addWidget(field, 1);
    m_fields[i] = field;
  }
  // A full field hands the typing on to the next one, as the address control does.
  for (size_t i = 0; i + 1 < m_fields.size(); ++i) {
    QLineEdit* next = m_fields[i + 1];
    connect(m_fields[i], &QLineEdit::textEdited, this, [next](const QString& text) {
      if (text.size() == kFieldDigits) next->setFocus();
    });
  }
}

void CIPAddressCtrl::SetAddress(const AddressFields& fields) {
  for (size_t i = 0; i < m_fields.size(); ++i) m_fields[i]->setText(QString::number(fields[i]));
}

AddressFields CIPAddressCtrl::GetAddress() const {
  AddressFields fields{};
  for (size_t i = 0; i < m_fields.size(); ++i) {
    fields[i] = std::clamp(m_fields[i]->text().toInt(), 0, kFieldMax);  // blank reads 0
  }
  return fields;
}

// A dot moves on to the next field instead of being typed.
bool CIPAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Period) {
    const auto it = std::find(m_fields.begin(), m_fields.end(), watched);
    if (it != m_fields.end() && it + 1 != m_fields.end()) (*(it + 1))->setFocus();
    return it != m_fields.end();
  }
  return QWidget::eventFilter(watched, event);
}
