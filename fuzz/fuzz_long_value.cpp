// Long values from damaged files: the input is a row's long-value field followed by the pages of
// a file in either format. Reading the value either gives bytes (never more than the field says)
// or fails with a jet::Error: chains that loop, point past the file, at the wrong kind of page or
// at rows that do not exist must all end cleanly.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jet/base/error.h"
#include "jet/storage/long_value.h"
#include "jet/storage/page_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + jet::kLongValueRefSize) return 0;
  const jet::Format format = data[0] & 1 ? jet::Format::Jet4Layout : jet::Format::Jet3Layout;
  const size_t fieldLen = jet::kLongValueRefSize + (data[0] >> 1) % 64;
  if (size < 1 + fieldLen) return 0;
  const uint8_t* field = data + 1;
  const uint8_t* pages = field + fieldLen;
  const size_t pagesLen = size - 1 - fieldLen;

  static int fd = memfd_create("long-value", 0);
  if (fd < 0) std::abort();
  if (ftruncate(fd, 0) != 0) std::abort();
  if (pagesLen && pwrite(fd, pages, pagesLen, 0) != ssize_t(pagesLen)) std::abort();
  try {
    jet::PageFile file("/proc/self/fd/" + std::to_string(fd), true, 8);
    file.setPageSize(format == jet::Format::Jet4Layout ? 4096 : 2048);
    jet::LongValueReader reader(file, format);
    std::vector<uint8_t> out;
    reader.read(field, fieldLen, out);
    const size_t declared = size_t(field[0]) | size_t(field[1]) << 8 | size_t(field[2]) << 16;
    if (out.size() > declared) std::abort();
  } catch (const jet::Error&) {
  }
  return 0;
}
