#include "jet/storage/page_codec.h"

#include "jet/base/bytes.h"
#include "jet/base/rc4.h"

namespace jet {

namespace {

class DatabaseKeyCodec : public PageCodec {
 public:
  explicit DatabaseKeyCodec(uint32_t key) : key_(key) {}
  void decode(uint32_t number, uint8_t* page, size_t len) const override { apply(number, page, len); }
  void encode(uint32_t number, uint8_t* page, size_t len) const override { apply(number, page, len); }

 private:
  void apply(uint32_t number, uint8_t* page, size_t len) const {
    uint8_t k[4];
    put32(k, key_ ^ number);
    rc4Apply(k, 4, page, len);
  }
  uint32_t key_;
};

}  // namespace

std::shared_ptr<const PageCodec> databaseKeyCodec(uint32_t key) { return std::make_shared<DatabaseKeyCodec>(key); }

}  // namespace jet
