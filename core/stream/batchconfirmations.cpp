#include "core/stream/batchconfirmations.h"

#include <algorithm>

BatchConfirmations::BatchConfirmations(quint64 firstTag, qsizetype count)
    : m_firstTag(firstTag), m_answers(size_t(count), Answer::None), m_unanswered(count) {}

void BatchConfirmations::Acknowledged(quint64 tag, bool multiple) {
  Set(tag, multiple, Answer::Acknowledged);
}

void BatchConfirmations::Refused(quint64 tag, bool multiple) {
  Set(tag, multiple, Answer::Refused);
}

void BatchConfirmations::Set(quint64 tag, bool multiple, Answer answer) {
  // Tags of earlier batches were all answered before this one was published.
  if (tag < m_firstTag) return;
  const size_t last = size_t(tag - m_firstTag);
  const size_t first = multiple ? 0 : last;
  for (size_t n = first; n <= last && n < m_answers.size(); ++n) {
    if (m_answers[n] != Answer::None) continue;
    m_answers[n] = answer;
    --m_unanswered;
    m_refused |= answer == Answer::Refused;
  }
}

qsizetype BatchConfirmations::AcknowledgedFromFirst() const {
  return std::find_if(m_answers.begin(), m_answers.end(),
                      [](Answer answer) { return answer != Answer::Acknowledged; }) -
         m_answers.begin();
}
