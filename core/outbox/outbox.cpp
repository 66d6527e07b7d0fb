#include "core/outbox/outbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QtEndian>
#include <cerrno>
#include <cstring>

#include "core/db/syncdirectory.h"
#include "core/log/privatefile.h"
#include "core/outbox/crc32.h"
#include "core/outbox/spoolframe.h"

namespace {

constexpr qsizetype kAckSlotSize = 16;
// Callers' numbers: the relay's user only.
constexpr mode_t kFileMode = 0600;
constexpr mode_t kDirectoryMode = 0700;
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

Outbox::Outbox(QString directory, QString name, Limits limits, PayloadCheck readable)
    : m_directory(std::move(directory)),
      m_name(std::move(name)),
      m_limits(limits),
      m_readable(std::move(readable)) {}

Outbox::~Outbox() {
  if (m_syncer.joinable()) {
    m_syncer.request_stop();
    m_syncer.join();
  }
  for (const int fd : {m_spoolFd, m_ackFd, m_directoryFd}) {
    if (fd >= 0) ::close(fd);
  }
}

QString Outbox::SpoolPath() const { return m_directory + '/' + m_name + QStringLiteral(".spool"); }
QString Outbox::AcknowledgementPath() const {
  return m_directory + '/' + m_name + QStringLiteral(".ack");
}

bool Outbox::Fail(const QString& what) {
  m_error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
  return false;
}

bool Outbox::Open() {
  if (!MakePrivateDirectory(m_directory, kDirectoryMode)) {
    return Fail(QStringLiteral("cannot create ") + m_directory);
  }
  m_directoryFd =
      ::open(QFile::encodeName(m_directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (m_directoryFd < 0) return Fail(QStringLiteral("cannot open ") + m_directory);
  // On the directory, not a file in it, so that removing a file cannot let
  // a second process in. Held while the outbox is open; it goes with the process.
  if (::flock(m_directoryFd, LOCK_EX | LOCK_NB) != 0) {
    m_heldElsewhere = errno == EWOULDBLOCK;
    ::close(std::exchange(m_directoryFd, -1));
    if (m_heldElsewhere) {
      m_error = m_directory + QStringLiteral(" is in use by another process");
      return false;
    }
    return Fail(QStringLiteral("cannot lock ") + m_directory);
  }
  m_ackFd = OpenPrivateFile(AcknowledgementPath(), O_RDWR | O_CLOEXEC, kFileMode);
  if (m_ackFd < 0) return Fail(QStringLiteral("cannot open ") + AcknowledgementPath());
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
    const QByteArray bytes = existing.mid(frame.offset, frame.size);
    if (m_readable && !m_readable(frame.payload)) {
      m_unreadable.append(bytes);
      continue;
    }
    m_waiting.push_back({frame.sequence, kept.size(), bytes, now, true});
    kept += bytes;
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
  m_spoolFd = OpenPrivateFile(SpoolPath(), O_WRONLY | O_APPEND | O_CLOEXEC, kFileMode);
  if (m_spoolFd < 0) return Fail(QStringLiteral("cannot open ") + SpoolPath());
  return true;
}

QList<QByteArray> Outbox::TakeUnreadable() { return std::exchange(m_unreadable, {}); }

bool Outbox::ReadAcknowledged(quint64* sequence) {
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

bool Outbox::WriteAcknowledged(quint64 sequence) {
  const QByteArray slot = EncodeAckSlot(sequence);
  if (::pwrite(m_ackFd, slot.data(), size_t(slot.size()), m_nextAckSlot * kAckSlotSize) !=
          kAckSlotSize ||
      ::fdatasync(m_ackFd) != 0) {
    return false;
  }
  m_nextAckSlot = 1 - m_nextAckSlot;
  return true;
}

bool Outbox::ReplaceSpoolFile(const QByteArray& contents) {
  const QString temporaryPath = SpoolPath() + QStringLiteral(".new");
  const QByteArray temporary = QFile::encodeName(temporaryPath);
  // A leftover file keeps its mode through O_CREAT: the mode is set anyway.
  const int fd = OpenPrivateFile(temporaryPath, O_WRONLY | O_TRUNC | O_CLOEXEC, kFileMode);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, contents) && ::fdatasync(fd) == 0;
  ::close(fd);
  if (!written ||
      ::rename(temporary.constData(), QFile::encodeName(SpoolPath()).constData()) != 0) {
    const int error = errno;
    // A full disk gets back what the attempt took.
    ::unlink(temporary.constData());
    errno = error;
    return false;
  }
  SyncDirectory(m_directory);
  return true;
}

Outbox::AppendResult Outbox::Append(QByteArrayView payload) {
  std::lock_guard lock(m_mutex);
  const AppendResult result = AppendLocked(payload);
  if (result == AppendResult::Appended && !WriteUnwrittenLocked()) return AppendResult::Held;
  return result;
}

Outbox::AppendResult Outbox::AppendUnwritten(QByteArrayView payload) {
  std::lock_guard lock(m_mutex);
  return AppendLocked(payload);
}

Outbox::AppendResult Outbox::AppendLocked(QByteArrayView payload) {
  if (payload.size() > kMaxSpoolPayloadSize) return AppendResult::TooLarge;
  if (m_directoryFd < 0) return AppendResult::Failed;
  Entry entry{m_nextSequence, 0, EncodeSpoolFrame(m_nextSequence, payload), Clock::now(), false};
  if (m_waitingBytes + entry.frame.size() > m_limits.maxWaitingBytes) return AppendResult::Full;
  // Otherwise the file is written anew from what is held, this one with it.
  if (m_fileWhole) m_unwritten += entry.frame;
  ++m_nextSequence;
  m_waitingBytes += entry.frame.size();
  m_waiting.push_back(std::move(entry));
  return m_fileWhole ? AppendResult::Appended : AppendResult::Held;
}

bool Outbox::WriteAppended() {
  std::lock_guard lock(m_mutex);
  return WriteUnwrittenLocked();
}

bool Outbox::WriteUnwrittenLocked() {
  if (m_unwritten.isEmpty() || !CheckFileLocked()) return m_fileWhole;
  if (!WriteAll(m_spoolFd, m_unwritten)) {
    // Written anew, a part-written frame goes with it.
    DiskFailedLocked(QStringLiteral("cannot write ") + SpoolPath());
    return false;
  }
  // They are the last waiting records, the only ones not on disk.
  qint64 offset = m_fileSize + m_unwritten.size();
  for (auto entry = m_waiting.rbegin(); entry != m_waiting.rend() && !entry->onDisk; ++entry) {
    offset -= entry->frame.size();
    entry->offset = offset;
    entry->onDisk = true;
  }
  m_fileSize += m_unwritten.size();
  m_unwritten.resize(0);  // keeps its room for the next pass
  return true;
}

bool Outbox::CheckFileLocked() {
  struct stat open {};
  struct stat named {};
  if (::fstat(m_spoolFd, &open) != 0) {
    DiskFailedLocked(QStringLiteral("cannot check ") + SpoolPath());
    return false;
  }
  if (::stat(QFile::encodeName(SpoolPath()).constData(), &named) != 0) {
    m_fileChange = FileChange::Removed;
  } else if (named.st_dev != open.st_dev || named.st_ino != open.st_ino) {
    m_fileChange = FileChange::Replaced;
  } else if (open.st_size < m_fileSize) {
    m_fileChange = FileChange::Shortened;
  } else {
    return true;
  }
  m_fileWhole = false;
  for (Entry& entry : m_waiting) entry.onDisk = false;
  // At once: the file is written anew from what is held.
  m_lastRewriteTry.reset();
  RewriteLocked();
  return false;
}

void Outbox::DiskFailedLocked(const QString& what) {
  m_diskError = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
  m_fileWhole = false;
  m_unwritten.clear();
  m_lastRewriteTry = Clock::now();
}

bool Outbox::RewriteLocked() {
  m_lastRewriteTry = Clock::now();
  QByteArray contents;
  contents.reserve(m_waitingBytes);
  for (const Entry& entry : m_waiting) contents += entry.frame;
  if (!ReplaceSpoolFile(contents)) {
    DiskFailedLocked(QStringLiteral("cannot write ") + SpoolPath());
    return false;
  }
  const int fd =
      ::open(QFile::encodeName(SpoolPath()).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    DiskFailedLocked(QStringLiteral("cannot open ") + SpoolPath());
    return false;
  }
  if (m_spoolFd >= 0) ::close(m_spoolFd);
  m_spoolFd = fd;
  m_unwritten.clear();
  qint64 offset = 0;
  for (Entry& entry : m_waiting) {
    entry.offset = offset;
    entry.onDisk = true;
    offset += entry.frame.size();
  }
  m_fileSize = offset;
  m_fileWhole = true;
  m_diskError.clear();
  return true;
}

qint64 Outbox::Sync(bool forceRetry) {
  {
    std::lock_guard lock(m_mutex);
    WriteUnwrittenLocked();
    if (!m_fileWhole && (forceRetry || !m_lastRewriteTry ||
                         Clock::now() - *m_lastRewriteTry >= m_limits.diskRetryEvery)) {
      RewriteLocked();
    }
    const auto unsynced = std::find_if(m_waiting.begin(), m_waiting.end(), [this](const Entry& e) {
      return e.sequence > m_syncedThrough;
    });
    if (unsynced != m_waiting.end()) {
      if (m_fileWhole && ::fdatasync(m_spoolFd) != 0) {
        // Whether they reached the disk is unknown: the file is written anew.
        DiskFailedLocked(QStringLiteral("cannot sync ") + SpoolPath());
        for (auto e = unsynced; e != m_waiting.end(); ++e) e->onDisk = false;
      }
      m_syncedThrough = m_waiting.back().sequence;
    }
  }
  m_recordWaiting.notify_all();
  return HeldInMemory();
}

void Outbox::SyncInBackground(std::function<void()> onFailure, std::function<void()> onSynced) {
  {
    std::lock_guard lock(m_mutex);
    WriteUnwrittenLocked();
    if (m_waiting.empty() || m_waiting.back().sequence <= m_syncWantedThrough) return;
    m_syncWantedThrough = m_waiting.back().sequence;
    if (!m_syncer.joinable()) {
      m_onBackgroundSyncFailure = std::move(onFailure);
      m_onBackgroundSynced = std::move(onSynced);
      m_syncer = std::jthread([this](std::stop_token stop) { SyncLoop(stop); });
    }
  }
  m_syncWanted.notify_one();
}

// Everything appended up to the wanted sequence is synced at once; the
// appends of the next passes meanwhile wait for the following sync.
void Outbox::SyncLoop(std::stop_token stop) {
  std::unique_lock lock(m_mutex);
  while (m_syncWanted.wait(lock, stop, [this] { return m_syncWantedThrough > m_syncedThrough; })) {
    const quint64 target = m_syncWantedThrough;
    // A copy of the descriptor: the file may be written anew meanwhile, and
    // the new one is synced as it is written.
    const int fd = m_fileWhole ? ::dup(m_spoolFd) : -1;
    lock.unlock();
    const bool synced = fd >= 0 && ::fdatasync(fd) == 0;
    if (fd >= 0) ::close(fd);
    lock.lock();
    if (!synced && m_fileWhole) {
      DiskFailedLocked(QStringLiteral("cannot sync ") + SpoolPath());
      for (Entry& entry : m_waiting) {
        if (entry.sequence > m_syncedThrough && entry.sequence <= target) entry.onDisk = false;
      }
      if (m_onBackgroundSyncFailure) m_onBackgroundSyncFailure();
    }
    m_syncedThrough = std::max(m_syncedThrough, target);
    m_recordWaiting.notify_all();
    if (m_onBackgroundSynced) m_onBackgroundSynced();
  }
}

std::optional<Outbox::WaitingRecord> Outbox::WaitForFirst(std::stop_token stop) {
  QList<WaitingRecord> oldest = WaitForOldest(stop, 1, 0);
  if (oldest.isEmpty()) return std::nullopt;
  return std::move(oldest.first());
}

QList<Outbox::WaitingRecord> Outbox::WaitForOldest(std::stop_token stop, qsizetype mostRecords,
                                                   qint64 mostBytes) {
  std::unique_lock lock(m_mutex);
  if (!m_recordWaiting.wait(
          lock, stop,
          [this] { return !m_waiting.empty() && m_waiting.front().sequence <= m_syncedThrough; }) ||
      stop.stop_requested()) {
    return {};
  }
  QList<WaitingRecord> oldest;
  qint64 bytes = 0;
  for (const Entry& entry : m_waiting) {
    const qint64 size = entry.frame.size() - kSpoolFrameHeaderSize;
    if (entry.sequence > m_syncedThrough || oldest.size() == mostRecords ||
        (!oldest.isEmpty() && bytes + size > mostBytes)) {
      break;
    }
    // Their own bytes, framed and checked when appended or opened.
    oldest.append({entry.sequence, entry.frame.sliced(kSpoolFrameHeaderSize)});
    bytes += size;
  }
  return oldest;
}

std::optional<Outbox::WaitingRecord> Outbox::FirstAfter(quint64 sequence) const {
  std::lock_guard lock(m_mutex);
  const auto first = std::find_if(m_waiting.begin(), m_waiting.end(),
                                  [sequence](const Entry& e) { return e.sequence > sequence; });
  if (first == m_waiting.end() || first->sequence > m_syncedThrough) return std::nullopt;
  return WaitingRecord{first->sequence, first->frame.sliced(kSpoolFrameHeaderSize)};
}

bool Outbox::Acknowledge(quint64 sequence) {
  // A consumer given up on may still come back with the same record.
  std::lock_guard acknowledging(m_ackMutex);
  {
    std::lock_guard lock(m_mutex);
    if (m_waiting.empty() || m_waiting.front().sequence != sequence) return false;
  }
  return AcknowledgeThroughHeld(sequence) == 1;
}

qint64 Outbox::AcknowledgeThrough(quint64 sequence) {
  std::lock_guard acknowledging(m_ackMutex);
  return AcknowledgeThroughHeld(sequence);
}

qint64 Outbox::AcknowledgeThroughHeld(quint64 sequence) {
  quint64 last = 0;
  {
    std::lock_guard lock(m_mutex);
    // Only what the consumer can have been handed.
    const quint64 through = std::min(sequence, m_syncedThrough);
    for (const Entry& entry : m_waiting) {
      if (entry.sequence > through) break;
      last = entry.sequence;
    }
  }
  if (last == 0) return 0;
  // Durable before the records leave the file: a crash in between writes
  // them once more rather than never.
  const bool durable = WriteAcknowledged(last);
  std::lock_guard lock(m_mutex);
  qint64 taken = 0;
  for (; !m_waiting.empty() && m_waiting.front().sequence <= last; ++taken) {
    m_waitingBytes -= m_waiting.front().frame.size();
    m_waiting.pop_front();
  }
  if (durable) CompactLocked();
  return taken;
}

void Outbox::CompactLocked() {
  if (!m_fileWhole) return;
  if (m_waiting.empty()) {
    if (::ftruncate(m_spoolFd, 0) == 0) m_fileSize = 0;
    return;
  }
  const qint64 front = m_waiting.front().offset;
  if (front < m_limits.compactFrontBytes || m_fileSize - front > m_limits.compactTailBytes) return;
  RewriteLocked();
}

qint64 Outbox::Waiting() const {
  std::lock_guard lock(m_mutex);
  return qint64(m_waiting.size());
}

qint64 Outbox::HeldInMemory() const {
  std::lock_guard lock(m_mutex);
  // While the file is whole, the only records not on disk are about to be written.
  if (m_fileWhole) return 0;
  return std::count_if(m_waiting.begin(), m_waiting.end(),
                       [](const Entry& entry) { return !entry.onDisk; });
}

QString Outbox::DiskError() const {
  std::lock_guard lock(m_mutex);
  return m_diskError;
}

Outbox::FileChange Outbox::TakeFileChange() {
  std::lock_guard lock(m_mutex);
  return std::exchange(m_fileChange, FileChange::None);
}

std::optional<Outbox::Clock::time_point> Outbox::OldestWaitingSince() const {
  std::lock_guard lock(m_mutex);
  if (m_waiting.empty()) return std::nullopt;
  return m_waiting.front().appendedAt;
}
