#include "jet/page_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/bytes.h"
#include "jet/error.h"
#include "jet/rc4.h"

namespace jet {

namespace {

std::string fileName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void encodePage(uint32_t key, uint32_t number, uint8_t* data, size_t len) {
  uint8_t k[4];
  put32(k, key ^ number);
  rc4Apply(k, 4, data, len);
}

}  // namespace

PageFile::PageFile(const std::string& path, bool readOnly, size_t cachePages)
    : path_(path), capacity_(cachePages < 4 ? 4 : cachePages) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      throw Error(err::kFileNotFound, "Could not find file '" + path + "'.");
    throw Error(err::kCannotOpenFile, "Cannot open the file '" + path + "': " + std::strerror(errno) + ".");
  }
  if (S_ISDIR(st.st_mode)) throw Error(err::kFileNotFound, "Could not find file '" + path + "'.");
  readOnly_ = readOnly;
  if (!readOnly_) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) readOnly_ = true;
    else if (fd_ < 0)
      throw Error(err::kCannotOpenFile, "Cannot open the file '" + path + "': " + std::strerror(errno) + ".");
  }
  if (readOnly_) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
      throw Error(err::kCannotOpenFile, "The Microsoft Jet database engine cannot open the file '" + path +
                                            "'. You do not have permission to read it.");
  }
  if (!readOnly_ && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd_);
    fd_ = -1;
    throw Error(err::kCannotOpenFile, "The Microsoft Jet database engine cannot open the file '" + path +
                                          "'. It is already opened exclusively by another user.");
  }
  fileSize_ = uint64_t(st.st_size);
  pageCount_ = uint32_t(fileSize_ / pageSize_);
}

PageFile::~PageFile() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::vector<uint8_t> PageFile::readPrefix(size_t len) {
  std::vector<uint8_t> out(len);
  ssize_t n = ::pread(fd_, out.data(), len, 0);
  if (n < 0) throw Error(err::kIoError, "Disk or network error reading '" + fileName(path_) + "'.");
  out.resize(size_t(n));
  return out;
}

void PageFile::setPageSize(uint32_t size) {
  pageSize_ = size;
  pageCount_ = uint32_t(fileSize_ / pageSize_);
  lru_.clear();
  index_.clear();
}

void PageFile::setEncodingKey(uint32_t key) {
  key_ = key;
  lru_.clear();
  index_.clear();
}

void PageFile::remember(uint32_t number, PageRef page) {
  auto it = index_.find(number);
  if (it != index_.end()) {
    lru_.erase(it->second);
    index_.erase(it);
  }
  lru_.emplace_front(number, std::move(page));
  index_[number] = lru_.begin();
  while (lru_.size() > capacity_) {
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
}

PageRef PageFile::page(uint32_t number) {
  auto it = index_.find(number);
  if (it != index_.end()) {
    if (it->second != lru_.begin()) lru_.splice(lru_.begin(), lru_, it->second);
    return lru_.front().second;
  }
  if (number >= pageCount_) throwCorrupt("a reference points to page " + std::to_string(number) +
                                         " beyond the end of the file");
  auto p = std::make_shared<Page>(pageSize_);
  size_t done = 0;
  while (done < pageSize_) {
    ssize_t n = ::pread(fd_, p->data() + done, pageSize_ - done, off_t(uint64_t(number) * pageSize_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Error(err::kIoError, "Disk or network error reading '" + fileName(path_) + "'.");
    if (n == 0) throwCorrupt("the file ends inside page " + std::to_string(number));
    done += size_t(n);
  }
  if (key_ != 0 && number != 0) encodePage(key_, number, p->data(), p->size());
  PageRef ref = std::move(p);
  remember(number, ref);
  return ref;
}

void PageFile::checkWritable() const {
  if (readOnly_) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
}

void PageFile::injectFault(size_t len, size_t& toWrite) {
  toWrite = len;
  if (fault_ == Fault::None || faultCountdown_ <= 0) return;
  if (--faultCountdown_ > 0) return;
  Fault f = fault_;
  fault_ = Fault::None;
  switch (f) {
    case Fault::DiskFull:
      throw Error(err::kDiskFull, "Disk full: there is not enough space to write to '" + fileName(path_) + "'.");
    case Fault::IoError:
      throw Error(err::kIoError, "Disk or network error writing '" + fileName(path_) + "'.");
    case Fault::ShortWrite:
      toWrite = len / 2;
      break;
    case Fault::None:
      break;
  }
}

void PageFile::rawWrite(uint64_t offset, const uint8_t* data, size_t len) {
  size_t allowed;
  injectFault(len, allowed);
  size_t done = 0;
  while (done < allowed) {
    ssize_t n = ::pwrite(fd_, data + done, allowed - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == ENOSPC)
      throw Error(err::kDiskFull, "Disk full: there is not enough space to write to '" + fileName(path_) + "'.");
    if (n <= 0) throw Error(err::kIoError, "Disk or network error writing '" + fileName(path_) + "'.");
    done += size_t(n);
  }
  if (allowed < len) throw Error(err::kIoError, "Disk or network error: incomplete write to '" + fileName(path_) + "'.");
}

void PageFile::writePage(uint32_t number, const uint8_t* data) { writePage(number, Page(data, data + pageSize_)); }

void PageFile::writePage(uint32_t number, Page&& page) {
  checkWritable();
  if (number > pageCount_) throw Error(err::kInvalidArgument, "Invalid argument: page beyond the end of the file.");
  if (page.size() != pageSize_) throw Error(err::kInvalidArgument, "Invalid argument: a page of the wrong size.");
  if (key_ != 0 && number != 0) {
    Page enc(page);
    encodePage(key_, number, enc.data(), enc.size());
    rawWrite(uint64_t(number) * pageSize_, enc.data(), enc.size());
  } else {
    rawWrite(uint64_t(number) * pageSize_, page.data(), page.size());
  }
  if (number == pageCount_) {
    ++pageCount_;
    fileSize_ = uint64_t(pageCount_) * pageSize_;
  }
  remember(number, std::make_shared<const Page>(std::move(page)));
}

uint32_t PageFile::appendPage(const uint8_t* data) {
  uint32_t number = pageCount_;
  writePage(number, data);
  return number;
}

void PageFile::flush() {
  if (readOnly_) return;
  size_t allowed;
  injectFault(1, allowed);
  if (allowed == 0) throw Error(err::kIoError, "Disk or network error writing '" + fileName(path_) + "'.");
  if (::fdatasync(fd_) != 0) throw Error(err::kIoError, "Disk or network error writing '" + fileName(path_) + "'.");
}

void PageFile::truncate(uint32_t pages) {
  checkWritable();
  if (pages >= pageCount_) return;
  if (::ftruncate(fd_, off_t(uint64_t(pages) * pageSize_)) != 0)
    throw Error(err::kIoError, "Disk or network error writing '" + fileName(path_) + "'.");
  for (uint32_t p = pages; p < pageCount_; ++p) {
    auto it = index_.find(p);
    if (it == index_.end()) continue;
    lru_.erase(it->second);
    index_.erase(it);
  }
  pageCount_ = pages;
  fileSize_ = uint64_t(pages) * pageSize_;
}

void PageFile::setWriteFaultForTesting(int nth, Fault fault) {
  faultCountdown_ = nth;
  fault_ = fault;
}

}  // namespace jet
