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
                                          "'. It is in use: another program has it open for changes.");
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

namespace {

// The process-wide test fault (see setProcessWriteFaultForTesting) and the write counter.
int processFaultCountdown = 0;
PageFile::Fault processFault = PageFile::Fault::None;
uint64_t processWrites = 0;

// Fires `fault`: throws its error, or for a short write lets only half of `len` bytes through.
size_t fire(PageFile::Fault fault, size_t len, const std::string& path) {
  switch (fault) {
    case PageFile::Fault::DiskFull:
      throw Error(err::kDiskFull, "Disk full: there is not enough space to write to '" + fileName(path) + "'.");
    case PageFile::Fault::IoError:
      throw Error(err::kIoError, "Disk or network error writing '" + fileName(path) + "'.");
    case PageFile::Fault::ShortWrite:
      return len / 2;
    case PageFile::Fault::None:
      break;
  }
  return len;
}

// Counts down an armed fault; true when it fires now (and disarms it).
bool due(int& countdown, PageFile::Fault& fault, PageFile::Fault& firing) {
  if (fault == PageFile::Fault::None || countdown <= 0) return false;
  if (--countdown > 0) return false;
  firing = fault;
  fault = PageFile::Fault::None;
  return true;
}

}  // namespace

void PageFile::injectFault(size_t len, size_t& toWrite) {
  toWrite = len;
  ++processWrites;
  Fault firing = Fault::None;
  if (due(faultCountdown_, fault_, firing) || due(processFaultCountdown, processFault, firing))
    toWrite = fire(firing, len, path_);
}

size_t PageFile::admitWrite(size_t len, const std::string& path) {
  ++processWrites;
  Fault firing = Fault::None;
  if (due(processFaultCountdown, processFault, firing)) return fire(firing, len, path);
  return len;
}

void PageFile::setProcessWriteFaultForTesting(int nth, Fault fault) {
  processFaultCountdown = nth;
  processFault = fault;
}

uint64_t PageFile::writeCountForTesting() { return processWrites; }

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
  touched_ = true;
  if (atomic_ && number < atomicPageCount_ && !preImages_.count(number)) preImages_.emplace(number, *this->page(number));
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
  // Also when no whole page was added: a failed append may have left part of one.
  if (pages > pageCount_) return;
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

void PageFile::beginAtomic() {
  atomic_ = true;
  touched_ = false;
  atomicPageCount_ = pageCount_;
  preImages_.clear();
}

void PageFile::commitAtomic() {
  atomic_ = false;
  preImages_.clear();
}

void PageFile::rollbackAtomic() {
  if (!atomic_) return;
  atomic_ = false;
  std::unordered_map<uint32_t, Page> images;
  images.swap(preImages_);
  for (auto& [number, image] : images) writePage(number, image.data());
  truncate(atomicPageCount_);
}

void PageFile::setWriteFaultForTesting(int nth, Fault fault) {
  faultCountdown_ = nth;
  fault_ = fault;
}

}  // namespace jet
