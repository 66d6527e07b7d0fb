#pragma once

#include <QtGlobal>
#include <vector>

// The broker's answers to a batch of deliveries published one after the
// other on a channel in confirm mode, with tags firstTag onwards. An answer
// with `multiple` covers every delivery up to its tag.
class BatchConfirmations {
 public:
  BatchConfirmations(quint64 firstTag, qsizetype count);

  void Acknowledged(quint64 tag, bool multiple);
  void Refused(quint64 tag, bool multiple);

  bool AllAnswered() const { return m_unanswered == 0; }
  bool AnyRefused() const { return m_refused; }
  // How many deliveries from the first one the broker acknowledged, up to the
  // first it refused or has not answered.
  qsizetype AcknowledgedFromFirst() const;

 private:
  enum class Answer : quint8 { None, Acknowledged, Refused };
  void Set(quint64 tag, bool multiple, Answer answer);

  const quint64 m_firstTag;
  std::vector<Answer> m_answers;
  qsizetype m_unanswered;
  bool m_refused = false;
};
