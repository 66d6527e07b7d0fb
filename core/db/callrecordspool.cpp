#include "core/db/callrecordspool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <cstring>

#include "core/db/crc32.h"
#include "core/db/spoolframe.h"
#include "core/db/syncdirectory.h"

namespace {

const QString kSpoolName = QStringLiteral("callrecords.spool");
const QString kAckName = QStringLiteral("callrecords.ack");
constexpr qsizetype kAckSlotSize = 16;
constexpr char kAckMagic[] = "TVXA";

QByteArray EncodeAckSlot(quint64 sequence) {
  QByteArray slot(kAckSlotSize, Qt::Uninitialized);
  std::copy_n(kAckMagic, 4, slot.data());
  qToLittleEndian(sequence, slot.data() + 8);
  qToLittleEndian(Crc32(QByteArrayView(slot).sliced(8)), slot.data() + 4);
  return slot;
}

std::optional<quint64> DecodeAckSlot(QByteArrayView slot) {
  if (slot.size() != kAckSlotSize || !slot.startsWith(QByteArrayView(kAckMagic, 4)) ||
      qFromLittleEndian<quint32>(slot.data() + 4) != Crc32(slot.sliced(8))) {
    return std::nullopt;
  }
  return qFromLittleEndian<quint64>(slot.data() + 8);
}

bool WriteAll(int fd, QByteArrayView bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

CallRecordSpool::CallRecordSpool(QString directory, Limits limits)
    : m_directory(std::move(directory)), m_limits(limits) {}

CallRecordSpool::~CallRecordSpool() {
  if (m_spoolFd >= 0) ::close(m_spoolFd);
  if (m_ackFd >= 0) ::close(m_ackFd);
}

QString CallRecordSpool::SpoolPath() const { return m_directory + '/' + kSpoolName; }
QString CallRecordSpool::AcknowledgementPath() const { return m_directory + '/' + kAckName; }

bool CallRecordSpool::Fail(const QString& what) {
  m_error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
  return false;
}

bool CallRecordSpool::Open() {
  if (!QDir().mkpath(m_directory)) return Fail(QStringLiteral("cannot create ") + m_directory);
  m_ackFd = ::open(QFile::encodeName(AcknowledgementPath()).constData(),
                   O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_ackFd < 0) return Fail(QStringLiteral("cannot open ") + AcknowledgementPath());
  // Held for as long as this spool is open; it goes with the process.
  if (::flock(m_ackFd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(std::exchange(m_ackFd, -1));
    if (held) {
      m_error = m_directory + QStringLiteral(" is in use by another process");
      return false;
    }
    return Fail(QStringLiteral("cannot lock ") + AcknowledgementPath());
  }
  quint64 acknowledged = 0;
  if (!ReadAcknowledged(&acknowledged)) return false;

  QFile file(SpoolPath());
  if (file.exists() && !file.open(QIODevice::ReadOnly)) {
    return Fail(QStringLiteral("cannot read ") + SpoolPath());
  }
  const QByteArray existing = file.isOpen() ? file.readAll() : QByteArray();
  file.close();

  SpoolScan scan = ScanSpool(existing);
  m_unreadable = scan.unreadable;
  QByteArray kept;
  quint64 lastSequence = acknowledged;
  const Clock::time_point now = Clock::now();
  for (const SpoolFrame& frame : scan.frames) {
    lastSequence = std::max(lastSequence, frame.sequence);
    if (frame.sequence <= acknowledged) continue;
    if (!DecodeCallRecord(frame.payload)) {
      m_unreadable.append(existing.mid(frame.offset, frame.size));
      continue;
    }
    m_waiting.push_back({frame.sequence, kept.size(), frame.size, now});
    kept += existing.mid(frame.offset, frame.size);
  }
  m_nextSequence = lastSequence + 1;
  m_syncedThrough = lastSequence;
  m_waitingBytes = kept.size();
  m_fileSize = kept.size();
  // The file then holds exactly the waiting frames, so nothing found here is
  // found again at the next start.
  if (kept.size() != existing.size() || !file.exists()) {
    if (!ReplaceSpoolFile(kept)) return Fail(QStringLiteral("cannot write ") + SpoolPath());
  }
  m_spoolFd = ::open(QFile::encodeName(SpoolPath()).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (m_spoolFd < 0) return Fail(QStringLiteral("cannot open ") + SpoolPath());
  return true;
}

QList<QByteArray> CallRecordSpool::TakeUnreadable() { return std::exchange(m_unreadable, {}); }

bool CallRecordSpool::ReadAcknowledged(quint64* sequence) {
  QByteArray stored(2 * kAckSlotSize, '\0');
  if (::pread(m_ackFd, stored.data(), size_t(stored.size()), 0) < 0) {
    return Fail(QStringLiteral("cannot read ") + AcknowledgementPath());
  }
  const std::optional<quint64> first = DecodeAckSlot(QByteArrayView(stored).first(kAckSlotSize));
  const std::optional<quint64> second = DecodeAckSlot(QByteArrayView(stored).sliced(kAckSlotSize));
  *sequence = std::max(first.value_or(0), second.value_or(0));
  // The next write goes over the older slot.
  m_nextAckSlot = first.value_or(0) > second.value_or(0) ? 1 : 0;
  return true;
}

bool CallRecordSpool::WriteAcknowledged(quint64 sequence) {
  const QByteArray slot = EncodeAckSlot(sequence);
  if (::pwrite(m_ackFd, slot.data(), size_t(slot.size()), m_nextAckSlot * kAckSlotSize) !=
          kAckSlotSize ||
      ::fdatasync(m_ackFd) != 0) {
    return false;
  }
  m_nextAckSlot = 1 - m_nextAckSlot;
  return true;
}

bool CallRecordSpool::ReplaceSpoolFile(const QByteArray& contents) {
  const QString temporary = SpoolPath() + QStringLiteral(".new");
  const int fd = ::open(QFile::encodeName(temporary).constData(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, contents) && ::fdatasync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(QFile::encodeName(temporary).constData(),
                           QFile::encodeName(SpoolPath()).constData()) != 0) {
    return false;
  }
  SyncDirectory(m_directory);
  return true;
}

CallRecordSpool::AppendResult CallRecordSpool::Append(const CallRecord& record) {
  const QByteArray payload = EncodeCallRecord(record);
  if (payload.size() > kMaxSpoolPayloadSize) return AppendResult::TooLarge;
  {
    std::lock_guard lock(m_mutex);
    if (m_spoolFd < 0) return AppendResult::Failed;
    const QByteArray frame = EncodeSpoolFrame(m_nextSequence, payload);
    if (m_waitingBytes + frame.size() > m_limits.maxWaitingBytes) return AppendResult::Full;
    if (!WriteAll(m_spoolFd, frame)) {
      Fail(QStringLiteral("cannot write ") + SpoolPath());
      // A part-written frame must not stay behind the ones that follow.
      CutOffLocked(m_fileSize);
      return AppendResult::Failed;
    }
    m_waiting.push_back({m_nextSequence++, m_fileSize, frame.size(), Clock::now()});
    m_fileSize += frame.size();
    m_waitingBytes += frame.size();
  }
  return AppendResult::Appended;
}

qint64 CallRecordSpool::Sync() {
  {
    std::lock_guard lock(m_mutex);
    const auto unsynced = std::find_if(m_waiting.begin(), m_waiting.end(), [this](const Entry& e) {
      return e.sequence > m_syncedThrough;
    });
    if (unsynced == m_waiting.end()) return 0;
    if (m_spoolFd < 0 || ::fdatasync(m_spoolFd) != 0) {
      // Whether they reached the disk is unknown: they are not the spool's.
      const qint64 lost = m_waiting.end() - unsynced;
      Fail(QStringLiteral("cannot sync ") + SpoolPath());
      const qint64 cutAt = unsynced->offset;
      for (auto e = unsynced; e != m_waiting.end(); ++e) m_waitingBytes -= e->size;
      m_waiting.erase(unsynced, m_waiting.end());
      CutOffLocked(cutAt);
      return lost;
    }
    m_syncedThrough = m_waiting.back().sequence;
  }
  m_recordWaiting.notify_all();
  return 0;
}

void CallRecordSpool::CutOffLocked(qint64 size) {
  if (m_spoolFd >= 0 && ::ftruncate(m_spoolFd, size) == 0) {
    m_fileSize = size;
  } else if (m_spoolFd >= 0) {
    ::close(std::exchange(m_spoolFd, -1));
  }
}

std::optional<CallRecordSpool::WaitingRecord> CallRecordSpool::WaitForFirst(std::stop_token stop) {
  std::unique_lock lock(m_mutex);
  if (!m_recordWaiting.wait(
          lock, stop,
          [this] { return !m_waiting.empty() && m_waiting.front().sequence <= m_syncedThrough; }) ||
      stop.stop_requested()) {
    return std::nullopt;
  }
  return ReadLocked(m_waiting.front());
}

CallRecordSpool::WaitingRecord CallRecordSpool::ReadLocked(const Entry& entry) const {
  WaitingRecord waiting{entry.sequence, std::nullopt, QByteArray(entry.size, '\0')};
  const int fd = ::open(QFile::encodeName(SpoolPath()).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return waiting;
  const ssize_t n = ::pread(fd, waiting.bytes.data(), size_t(entry.size), entry.offset);
  ::close(fd);
  waiting.bytes.truncate(std::max<ssize_t>(n, 0));
  const SpoolScan scan = ScanSpool(waiting.bytes);
  if (scan.frames.size() == 1 && scan.frames.first().sequence == entry.sequence) {
    waiting.record = DecodeCallRecord(scan.frames.first().payload);
  }
  if (waiting.record) waiting.bytes.clear();
  return waiting;
}

bool CallRecordSpool::Acknowledge(quint64 sequence) {
  // A writer given up on may still come back with the same record.
  std::lock_guard acknowledging(m_ackMutex);
  {
    std::lock_guard lock(m_mutex);
    if (m_waiting.empty() || m_waiting.front().sequence != sequence) return false;
  }
  // Durable before the record leaves the file: a crash in between writes it
  // once more rather than never.
  const bool durable = WriteAcknowledged(sequence);
  std::lock_guard lock(m_mutex);
  m_waitingBytes -= m_waiting.front().size;
  m_waiting.pop_front();
  if (durable) CompactLocked();
  return true;
}

void CallRecordSpool::CompactLocked() {
  if (m_spoolFd < 0) return;
  if (m_waiting.empty()) {
    if (::ftruncate(m_spoolFd, 0) == 0) m_fileSize = 0;
    return;
  }
  const qint64 front = m_waiting.front().offset;
  if (front < m_limits.compactFrontBytes || m_fileSize - front > m_limits.compactTailBytes) return;
  QByteArray tail(m_fileSize - front, Qt::Uninitialized);
  const int fd = ::open(QFile::encodeName(SpoolPath()).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t n = ::pread(fd, tail.data(), size_t(tail.size()), front);
  ::close(fd);
  if (n != tail.size() || !ReplaceSpoolFile(tail)) return;
  ::close(m_spoolFd);
  m_spoolFd = ::open(QFile::encodeName(SpoolPath()).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  for (Entry& entry : m_waiting) entry.offset -= front;
  m_fileSize -= front;
}

qint64 CallRecordSpool::Waiting() const {
  std::lock_guard lock(m_mutex);
  return qint64(m_waiting.size());
}

std::optional<CallRecordSpool::Clock::time_point> CallRecordSpool::OldestWaitingSince() const {
  std::lock_guard lock(m_mutex);
  if (m_waiting.empty()) return std::nullopt;
  return m_waiting.front().appendedAt;
}
