#include "package/file/disk_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "package/file/file_system.h"
#include "platform/durable_file.h"
#include "platform/file_tree.h"

namespace marrowgate {

DiskFile* DiskFile::Open(const char* path, const char* streamMode) {
  if (path == nullptr || streamMode == nullptr) return nullptr;
  if (std::strlen(path) > platform::MaxSystemPath()) {
    errno = ENAMETOOLONG;  // refused whole, never cut to fit
    return nullptr;
  }
  std::unique_ptr<platform::FileStream> stream = platform::FileStream::Open(path, streamMode);
  if (!stream) return nullptr;
  const int64_t size = stream->Size();
  if (size < 0) return nullptr;
  DiskFile* file = new DiskFile(std::move(stream), path, size);
  // In append mode every write goes to the end, wherever the stream
  // stands: the position is asked of the stream each time.
  if (std::strchr(streamMode, 'a') != nullptr) file->position_ = -1;
  file->trackPosition_ = file->position_ == 0;
  return file;
}

DiskFile::DiskFile(std::unique_ptr<platform::FileStream> stream, std::string path, int64_t size)
    : stream_(std::move(stream)), path_(std::move(path)), size_(size) {}

DiskFile::~DiskFile() {
  // The times go on through the open file where the system allows it,
  // else by path once it is closed. A time that cannot be set leaves the
  // content as it is.
  const bool timed = timeAtClose_ != 0 && stream_->SetTimes(timeAtClose_, timeAtClose_);
  stream_.reset();
  if (timeAtClose_ != 0 && !timed) platform::SetFileTimes(path_.c_str(), timeAtClose_, timeAtClose_);
}

int32_t DiskFile::Size() {
  return size_ > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size_);
}

// Times are unsigned 32-bit seconds (1970 to 2106) carried in the int32_t
// of the interface: earlier times read as 0, later ones as the last second.
int32_t DiskFile::GetTime() {
  int64_t seconds = stream_->ModificationTime();
  if (seconds < 0) seconds = 0;
  if (seconds > static_cast<int64_t>(UINT32_MAX)) seconds = UINT32_MAX;
  return static_cast<int32_t>(static_cast<uint32_t>(seconds));
}

int32_t DiskFile::SetTime(int32_t seconds) {
  timeAtClose_ = seconds != 0 ? static_cast<int64_t>(static_cast<uint32_t>(seconds))
                             : platform::TimeNow();
  return 0;
}

int32_t DiskFile::Read(void* buffer, int32_t n) {
  if (n < 0 || (n > 0 && buffer == nullptr)) return -1;
  if (lastWasWrite_) {
    stream_->Seek(0, 1);
    lastWasWrite_ = false;
  }
  lastWasRead_ = true;
  const size_t got = stream_->Read(buffer, static_cast<size_t>(n));
  if (position_ >= 0) position_ += static_cast<int64_t>(got);
  return static_cast<int32_t>(got);
}

int32_t DiskFile::Write(const void* buffer, int32_t n) {
  if (n < 0 || (n > 0 && buffer == nullptr)) return -1;
  if (lastWasRead_) {
    stream_->Seek(0, 1);
    lastWasRead_ = false;
  }
  lastWasWrite_ = true;
  size_t written = stream_->Write(buffer, static_cast<size_t>(n));
  // After a short write the stream's position is its own to tell.
  if (position_ >= 0 && written == static_cast<size_t>(n))
    position_ += static_cast<int64_t>(written);
  else
    position_ = -1;
  int64_t position = Tell();
  if (position > size_) size_ = position;
  return static_cast<int32_t>(written);
}

int32_t DiskFile::Seek(int64_t offset, int origin) {
  if (origin < 0 || origin > 2) return -1;
  // The position the seek leads to, when it is known without asking.
  int64_t target = -1;
  if (origin == 0) target = offset;
  if (origin == 1 && position_ >= 0) target = position_ + offset;
  // A seek to where the stream stands (the next block of a package read
  // in order) costs no call; the direction stays, so that a switch still
  // repositions the stream (Read, Write). At the end the seek is made, as
  // it clears the end indicator.
  if (target >= 0 && target == position_ && !stream_->AtEnd()) return 0;
  // A seek ends the current direction; the next transfer may go either way.
  lastWasRead_ = lastWasWrite_ = false;
  if (stream_->Seek(offset, origin) != 0) {
    position_ = -1;
    return -1;
  }
  position_ = target;
  if (position_ < 0 && trackPosition_) position_ = stream_->Tell();
  return 0;
}

bool DiskFile::AtEnd() { return stream_->AtEnd(); }

int64_t DiskFile::Tell() {
  if (position_ >= 0) return position_;
  const int64_t position = stream_->Tell();
  if (trackPosition_) position_ = position;
  return position;
}

int32_t DiskFile::Flush() { return platform::SyncStream(stream_.get()) ? 0 : -1; }

intptr_t DiskFile::NativeHandle() { return stream_->Handle(); }

bool DiskFile::ReadExactlyAt(int64_t offset, void* buffer, size_t n) {
  if (offset < 0 || (n > 0 && buffer == nullptr)) return false;
  return stream_->ReadAt(offset, buffer, n) == static_cast<int64_t>(n);
}

int32_t DiskFile::FlushBuffers() { return stream_->Flush() == 0 ? 0 : -1; }

bool DiskFile::Identity(platform::FileIdentity* identity) const {
  return platform::IdentityOfStream(stream_.get(), identity);
}

}  // namespace marrowgate
